// loopmon.exe's windows over a real serial line, driven by window messages:
// COM3 of the Wine prefix is a pseudo-terminal with loopsim's demo bus on its
// Linux side. Then the simulator mode with loopsim.exe serving, and without a
// simulator to talk to.

#include <ole2.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "gui/win32/loop_table.h"
#include "gui/win32/main_window.h"
#include "gui/win32/search_dialog.h"
#include "gui/win32/traffic_window.h"
#include "loops/reading_cycle.h"
#include "loopsim_serve_win32.h"
#include "platform/store/profile_file.h"
#include "platform/store/program_folder.h"
#include "platform/system/named_marker.h"
#include "session/session.h"
#include "transport/bus_state.h"
#include "window_driver.h"

namespace loopmon::win32 {
namespace {

using namespace loopmon::win32::testing;

constexpr int ScanLimitMs = 180000;
constexpr int PassLimitMs = 60000;

class Session : public ::testing::Test {
 protected:
  void SetUp() override {
    ProfileFile(folder_.file("pcom.ini")).writeString("Port", "Num", "2");  // COM3
  }
  void open() {
    window_ = std::make_unique<MainWindow>(
        Platform::system(), Desktop::Files{folder_.file("ohmgauge.kft"), folder_.file("pcom.ini")});
    window_->show();
  }
  void search(const std::function<void(SearchDialog&)>& inside) {
    testing::search(*window_, inside);
  }

  // The traffic window, open since the scan began.
  void trafficShowsTheScanFiltersPausesAndSaves() {
    TrafficWindow& traffic = window_->trafficWindow();
    ASSERT_TRUE(IsWindowVisible(traffic.hwnd()));
    EXPECT_EQ(windowText(traffic.hwnd()), "Обмен по шине");
    expectPlacedAsDesigned(traffic);
    HWND list = traffic.control(traffic_form::TraceList);
    ASSERT_TRUE(pumpUntil(
        [&] {
          for (const std::string& line : lines(traffic.control(traffic_form::CountersList))) {
            if (line.rfind(" 100 ", 0) == 0) return true;
          }
          return false;
        },
        5000));
    setWindowText(traffic.control(traffic_form::FilterField), "5");
    const std::vector<std::string> ofFive = lines(list);
    ASSERT_FALSE(ofFive.empty());
    for (const std::string& line : ofFive) {
      EXPECT_TRUE(line.find(" адрес 5 ") != std::string::npos || line.rfind("обмен: ", 0) == 0)
          << line;
    }
    HWND pause = traffic.control(traffic_form::PauseButton);
    click(pause);
    EXPECT_EQ(windowText(pause), "Продолжить");
    click(window_->control(main_form::ReadButton));
    ASSERT_TRUE(pumpUntil([&] { return !window_->model().reading(); }, PassLimitMs));
    pumpFor(2 * TrafficWindowModel::RefreshMs);
    EXPECT_EQ(lines(list), ofFive);
    click(pause);
    EXPECT_NE(lines(list), ofFive);

    const std::string file = folder_.file("traffic.txt");
    setSavePathHook([&](const std::string&) { return std::optional<std::string>(file); });
    click(traffic.control(traffic_form::SaveButton));
    setSavePathHook({});
    std::ifstream saved(std::filesystem::path(widen(file)), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}), traffic.model().text());
    const std::string capture = folder_.file("traffic.pcapng");
    setSavePathHook([&](const std::string&) { return std::optional<std::string>(capture); });
    click(traffic.control(traffic_form::SaveCaptureButton));
    setSavePathHook({});
    std::ifstream captured(std::filesystem::path(widen(capture)), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(captured), {}), traffic.model().capture());
    SendMessageW(traffic.hwnd(), WM_CLOSE, 0, 0);
    EXPECT_EQ(window_->session().Trace().active(), nullptr);
  }

  TempFolder folder_;
  std::unique_ptr<MainWindow> window_;
};

TEST_F(Session, AScanAndAReadingOverTheSerialLine) {
  if (std::getenv("LOOPMON_COM3_LINE") == nullptr) GTEST_SKIP() << "no demo bus behind COM3";
  open();
  search([&](SearchDialog& d) {
    EXPECT_EQ(windowText(d.control(search_form::PortSelector)).rfind("COM3", 0), 0u);
    click(d.control(search_form::SearchButton));
    window_->trafficWindow().open();
    ASSERT_TRUE(pumpUntil([&] { return !d.model().procedure().Scanning(); }, ScanLimitMs));
    std::vector<std::string> expected;
    for (uint8_t address : {127, 5, 12, 20, 63}) {
      expected.push_back(window_->session().DescribeDevice(address));
    }
    EXPECT_EQ(drawnLines(d, search_form::DeviceList), expected);
    SendMessageW(d.control(search_form::DeviceList), LB_SETCURSEL, 1, 0);
    click(d.control(search_form::ChooseButton));
  });
  ASSERT_TRUE(pumpUntil([&] { return window_->device().DevAddr == 5; }, 10000));
  EXPECT_EQ(window_->model().grid().rowCount(), 21);
  click(window_->control(main_form::ReadButton));
  ASSERT_TRUE(pumpUntil(
      [&] { return !window_->model().reading() && windowText(window_->hwnd()) == IdleCaption; },
      PassLimitMs));
  EXPECT_EQ(window_->model().grid().cell(2, 3), "Обрыв");
  for (int row = 1; row < 21; ++row) EXPECT_FALSE(window_->model().grid().cell(1, row).empty());
  trafficShowsTheScanFiltersPausesAndSaves();
}

// loopsim.exe serving while the program starts: the search dialog lists the
// demo bus, whatever the port. The search is stopped once 127 and 5 are in:
// every probe of the rest costs a COM activation.
TEST_F(Session, TheSearchListsTheBusOfLoopsimServe) {
  loopmon::testing::LoopsimServe server;
  ASSERT_TRUE(server.started()) << server.startFailure();
  open();
  ASSERT_TRUE(window_->session().SimulatorMode());
  search([&](SearchDialog& d) {
    click(d.control(search_form::SearchButton));
    ASSERT_TRUE(
        pumpUntil([&] { return drawnLines(d, search_form::DeviceList).size() == 2; }, ScanLimitMs));
    click(d.control(search_form::SearchButton));
    ASSERT_TRUE(pumpUntil([&] { return !d.model().procedure().Scanning(); }, PassLimitMs));
    const std::vector<std::string> expected{window_->session().DescribeDevice(127),
                                            window_->session().DescribeDevice(5)};
    EXPECT_EQ(drawnLines(d, search_form::DeviceList), expected);
  });
}

bool simulatorRegistered() {
  CLSID id{};
  return SUCCEEDED(CLSIDFromProgID(L"Simul.Simulator", &id));
}

// "SIMUL" held while no simulator server is registered: the search shows the
// failure in one box, the dialog stays open and the program goes on.
TEST_F(Session, ASearchWithoutTheSimulatorShowsOneBox) {
  if (simulatorRegistered()) GTEST_SKIP() << "a simulator server is registered here";
  bool existed = false;
  const auto marker = makeMarkerService(runtimeFolder)->create("SIMUL", existed);
  open();
  ASSERT_TRUE(window_->session().SimulatorMode());
  BoxCapture boxes;
  search([&](SearchDialog& d) {
    HWND button = d.control(search_form::SearchButton);
    click(button);
    ASSERT_TRUE(pumpUntil([&] { return boxes.boxes.size() == 1; }, 20000));
    pumpFor(200);
    EXPECT_EQ(boxes.boxes.size(), 1u);
    EXPECT_TRUE(d.shown());
    EXPECT_EQ(windowText(button), "Поиск");
    EXPECT_EQ(windowText(d.hwnd()), "Поиск приборов");
  });
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes.front().rfind("Шлейфы MIVRA-QX: Симулятор недоступен: ", 0), 0u)
      << boxes.boxes.front();
  EXPECT_EQ(window_->device().DevAddr, 0);
}

}  // namespace
}  // namespace loopmon::win32
