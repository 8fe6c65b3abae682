// A user's session with loopmon.exe's windows, driven by window messages:
// COM3 of the Wine prefix is a pseudo-terminal with loopsim's demo bus (type 1
// at 5, type 2 at 12, type 4 at 20, type 11 at 63, type 9 at 127) on its
// Linux side. Then the simulator mode with loopsim.exe serving, and without a
// simulator to talk to.

#include <ole2.h>

#include <cstdlib>

#include "gui/win32/loop_table.h"
#include "gui/win32/main_window.h"
#include "gui/win32/search_dialog.h"
#include "loops/loop_decode.h"
#include "loops/reading_cycle.h"
#include "loopsim_serve_win32.h"
#include "platform/named_marker.h"
#include "platform/profile_file.h"
#include "session/session.h"
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

  void open(Platform platform = Platform::system()) {
    window_ = std::make_unique<MainWindow>(
        std::move(platform),
        MainWindow::Files{folder_.file("ohmgauge.kft"), folder_.file("pcom.ini")});
    window_->show();
  }

  // Opens the search dialog with the main window's search button; `inside`
  // runs in the dialog's own loop, which is closed afterwards if still open.
  void search(const std::function<void(SearchDialog&)>& inside) {
    SearchDialog& dialog = window_->searchDialog();
    runSoon([&] {
      inside(dialog);
      if (dialog.shown()) SendMessageW(dialog.window(), WM_CLOSE, 0, 0);
    });
    click(main(MainWindow::SearchButtonId));
    EXPECT_FALSE(dialog.shown());
  }

  void readOnce() {
    click(main(MainWindow::ReadButtonId));
    ASSERT_TRUE(pumpUntil(
        [&] { return !window_->model().reading() && windowText(window_->window()) == IdleCaption; },
        PassLimitMs));
  }

  // Press at one cell, moves over the others, release at the last.
  void drag(const std::vector<std::pair<int, int>>& cells) {
    HWND table = main(MainWindow::LoopTableId);
    const auto point = [&](std::pair<int, int> cell) {
      return at(centre(window_->loopTable().cellRect(cell.first, cell.second)));
    };
    SendMessageW(table, WM_LBUTTONDOWN, MK_LBUTTON, point(cells.front()));
    for (size_t i = 1; i < cells.size(); ++i) {
      SendMessageW(table, WM_MOUSEMOVE, MK_LBUTTON, point(cells[i]));
    }
    SendMessageW(table, WM_LBUTTONUP, 0, point(cells.back()));
  }

  // The colour the table paints in the lower right of a cell, clear of its text.
  COLORREF paintedColour(int col, int row) {
    HWND table = main(MainWindow::LoopTableId);
    RECT client{};
    GetClientRect(table, &client);
    HDC screen = GetDC(table);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
    HGDIOBJ old = SelectObject(dc, bitmap);
    SendMessageW(table, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    const RECT cell = window_->loopTable().cellRect(col, row);
    const COLORREF colour = GetPixel(dc, cell.right - 4, cell.bottom - 3);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(table, screen);
    return colour;
  }

  HWND main(MainWindow::Control id) const { return window_->control(id); }
  const std::string& cell(int col, int row) const { return window_->loopTable().cell(col, row); }

  static std::vector<std::string> listLines(const SearchDialog& dialog) {
    HWND list = dialog.control(SearchDialog::DeviceListId);
    std::vector<std::string> lines;
    const auto count = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      std::wstring text(static_cast<size_t>(SendMessageW(list, LB_GETTEXTLEN, i, 0)), L'\0');
      SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()));
      lines.push_back(narrow(text));
    }
    return lines;
  }

  TempFolder folder_;
  std::unique_ptr<MainWindow> window_;
};

TEST_F(Session, SearchChooseReadMarkAndReadPeriodically) {
  if (std::getenv("LOOPMON_COM3_LINE") == nullptr) GTEST_SKIP() << "no demo bus behind COM3";
  open();

  // A full scan, then the device at 5 chosen.
  search([&](SearchDialog& d) {
    // The check of the devices found earlier has nothing to check yet.
    EXPECT_TRUE(pumpUntil([&] { return windowText(d.window()) == "Поиск приборов"; }, 5000));
    EXPECT_EQ(windowText(d.control(SearchDialog::PortSelectorId)).rfind("COM3", 0), 0u);
    HWND button = d.control(SearchDialog::SearchButtonId);
    click(button);
    EXPECT_EQ(windowText(button), "Стоп");
    EXPECT_FALSE(enabled(d.control(SearchDialog::PortSelectorId)));
    ASSERT_TRUE(pumpUntil([&] { return !d.model().procedure().Scanning(); }, ScanLimitMs));
    EXPECT_EQ(windowText(button), "Поиск");
    std::vector<std::string> expected;
    for (uint8_t address : {127, 5, 12, 20, 63}) {
      expected.push_back(window_->session().DescribeDevice(address));
    }
    EXPECT_EQ(listLines(d), expected);
    SendMessageW(d.control(SearchDialog::DeviceListId), LB_SETCURSEL, 1, 0);
    EXPECT_TRUE(enabled(d.control(SearchDialog::ChooseButtonId)));
    click(d.control(SearchDialog::ChooseButtonId));
    EXPECT_FALSE(d.shown());
  });
  ASSERT_TRUE(pumpUntil([&] { return window_->device().DevAddr == 5; }, 10000));
  EXPECT_EQ(windowText(main(MainWindow::DeviceLabelId)), window_->session().DescribeDevice(5));
  for (auto id :
       {MainWindow::ReadButtonId, MainWindow::PeriodicButtonId, MainWindow::PeriodFieldId}) {
    EXPECT_TRUE(enabled(main(id))) << id;
  }
  EXPECT_EQ(window_->loopTable().rowCount(), 21);
  EXPECT_EQ(ProfileFile(folder_.file("pcom.ini")).readInt("Port", "Num", -1), 2);

  // One reading in each view.
  readOnce();
  const Coefficients c = window_->model().readingCycle().coefficients();
  EXPECT_EQ(cell(2, 3), "Обрыв");
  for (int row = 1; row < 21; ++row) {
    EXPECT_EQ(cell(0, row), std::to_string(row));
    EXPECT_EQ(cell(2, row), ResistanceText(static_cast<uint8_t>(std::stoi(cell(1, row))), c))
        << row;
  }
  mouseClick(main(MainWindow::StateViewToggleId));
  readOnce();
  EXPECT_EQ(cell(1, 0), "Состояние ШС");
  EXPECT_EQ(cell(1, 7), "отключен");
  EXPECT_EQ(cell(1, 12), "не на охране");
  mouseClick(main(MainWindow::AdcViewToggleId));

  // Marks painted by a drag that leaves column 0 on the way, drawn red, and
  // the marked loops not read.
  drag({{0, 3}, {0, 5}, {1, 6}, {2, 8}});
  for (int row = 1; row < 21; ++row) {
    EXPECT_EQ(window_->loopTable().mark(row), row >= 3 && row <= 8) << row;
  }
  EXPECT_EQ(paintedColour(0, 4), RGB(255, 0, 0));
  EXPECT_NE(paintedColour(0, 2), RGB(255, 0, 0));
  EXPECT_NE(paintedColour(1, 4), RGB(255, 0, 0));
  readOnce();
  for (int row = 3; row <= 8; ++row) EXPECT_EQ(cell(1, row) + cell(2, row), "") << row;
  EXPECT_FALSE(cell(1, 9).empty());
  drag({{0, 3}, {0, 8}});
  for (int row = 1; row < 21; ++row) EXPECT_FALSE(window_->loopTable().mark(row)) << row;
  EXPECT_NE(paintedColour(0, 4), RGB(255, 0, 0));

  // The period field takes digits only and keeps to 1..30.
  HWND field = main(MainWindow::PeriodFieldId);
  const struct {
    const wchar_t* typed;
    const char* shown;
    int period;
  } entries[] = {{L"45", "30", 30}, {L"0", "1", 1}, {L"7a", "7", 7}, {L"x", "", 7}, {L"1", "1", 1}};
  for (const auto& entry : entries) {
    SendMessageW(field, EM_SETSEL, 0, -1);
    SendMessageW(field, WM_CHAR, VK_BACK, 1);
    typeChars(field, entry.typed);
    EXPECT_EQ(windowText(field), entry.shown) << narrow(entry.typed);
    EXPECT_EQ(window_->model().period(), entry.period) << narrow(entry.typed);
  }

  // Periodic reading: the button latches, the pass repeats after the period,
  // and a release stops it.
  HWND periodic = main(MainWindow::PeriodicButtonId);
  click(periodic);
  EXPECT_TRUE(checked(periodic));
  EXPECT_FALSE(enabled(main(MainWindow::ReadButtonId)));
  ASSERT_TRUE(pumpUntil([&] { return window_->model().waitingBetweenPasses(); }, PassLimitMs));
  ASSERT_TRUE(pumpUntil([&] { return !window_->model().waitingBetweenPasses(); }, 5000));
  ASSERT_TRUE(pumpUntil([&] { return window_->model().waitingBetweenPasses(); }, PassLimitMs));
  click(periodic);
  EXPECT_FALSE(checked(periodic));
  EXPECT_TRUE(enabled(main(MainWindow::ReadButtonId)));
  EXPECT_FALSE(window_->model().reading());
  const std::string caption = windowText(window_->window());
  pumpFor(1500);
  EXPECT_EQ(windowText(window_->window()), caption);

  // The moved marks follow the model, and a loop's history opens from its
  // row's menu: a right click, then the menu's one item.
  for (int row = 1; row < 21; ++row) {
    EXPECT_EQ(window_->loopTable().moved(row), window_->model().moved(row)) << row;
  }
  runSoon([] {
    HWND menu = FindWindowW(L"#32768", nullptr);
    PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
  });
  SetTimer(nullptr, 0, 5000, [](HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    EndMenu();
  });
  const LPARAM loop2 = at(centre(window_->loopTable().cellRect(0, 2)));
  SendMessageW(main(MainWindow::LoopTableId), WM_RBUTTONDOWN, MK_RBUTTON, loop2);
  SendMessageW(main(MainWindow::LoopTableId), WM_RBUTTONUP, 0, loop2);
  const std::string historyTitle =
      "История шлейфа 2 — адрес " + std::to_string(window_->device().DevAddr);
  HWND history = FindWindowW(nullptr, widen(historyTitle).c_str());
  ASSERT_NE(history, nullptr);
  EXPECT_TRUE(IsWindowVisible(history));
  for (int row = 1; row < 21; ++row) EXPECT_FALSE(window_->loopTable().mark(row)) << row;

  // Enter in the list of the devices that still answer, none selected: the
  // first line, the type 9 device, with its scrolled table.
  search([&](SearchDialog& d) {
    HWND list = d.control(SearchDialog::DeviceListId);
    ASSERT_TRUE(pumpUntil([&] { return listLines(d).size() == 5; }, PassLimitMs));
    SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    SendMessageW(list, WM_KEYDOWN, VK_RETURN, 1);
  });
  ASSERT_TRUE(pumpUntil([&] { return window_->device().DevAddr == 127; }, 10000));
  const LoopTable& table = window_->loopTable();
  EXPECT_EQ(table.rowCount(), 128);
  EXPECT_TRUE(table.verticalScrollBarShown());
  EXPECT_FALSE(table.mark(1));
  for (int row = 2; row < 128; ++row) ASSERT_TRUE(table.mark(row)) << row;
  SendMessageW(main(MainWindow::LoopTableId), WM_VSCROLL, SB_BOTTOM, 0);
  RECT client{};
  GetClientRect(main(MainWindow::LoopTableId), &client);
  const RECT last = table.cellRect(0, 127);
  EXPECT_TRUE(last.top >= 0 && last.bottom <= client.bottom) << "the last loop shows whole";
  int col = -1;
  int row = -1;
  table.cellAt(centre(last), col, row);
  EXPECT_EQ(row, 127);
  EXPECT_EQ(col, 0);
}

// loopsim.exe serving while the program starts: the search dialog lists the
// demo bus, whatever the port. The search is stopped once 127 and 5 are in:
// every probe of the rest costs a COM activation.
TEST_F(Session, TheSearchListsTheBusOfLoopsimServe) {
  loopmon::testing::LoopsimServe server;
  ASSERT_TRUE(server.started());
  open();
  ASSERT_TRUE(window_->session().Simulator.enabled);
  search([&](SearchDialog& d) {
    click(d.control(SearchDialog::SearchButtonId));
    ASSERT_TRUE(pumpUntil([&] { return listLines(d).size() == 2; }, ScanLimitMs));
    click(d.control(SearchDialog::SearchButtonId));
    ASSERT_TRUE(pumpUntil([&] { return !d.model().procedure().Scanning(); }, PassLimitMs));
    const std::vector<std::string> expected{window_->session().DescribeDevice(127),
                                            window_->session().DescribeDevice(5)};
    EXPECT_EQ(listLines(d), expected);
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
  const auto marker = makeMarkerService()->create("SIMUL", existed);
  open();
  ASSERT_TRUE(window_->session().Simulator.enabled);
  BoxCapture boxes;
  search([&](SearchDialog& d) {
    HWND button = d.control(SearchDialog::SearchButtonId);
    click(button);
    ASSERT_TRUE(pumpUntil([&] { return boxes.boxes.size() == 1; }, 20000));
    pumpFor(200);
    EXPECT_EQ(boxes.boxes.size(), 1u);
    EXPECT_TRUE(d.shown());
    EXPECT_EQ(windowText(button), "Поиск");
    EXPECT_EQ(windowText(d.window()), "Поиск приборов");
    EXPECT_TRUE(enabled(d.control(SearchDialog::PortSelectorId)));
  });
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes.front().rfind(applicationTitle() + ": ", 0), 0u) << boxes.boxes.front();
  EXPECT_EQ(window_->device().DevAddr, 0);
  EXPECT_TRUE(IsWindowVisible(window_->window()));
}

}  // namespace
}  // namespace loopmon::win32
