// The Win32 windows on the demo bus, driven with window messages: every window
// where its form puts it at 96 and 144 DPI, the search and the table it lays
// out, readings with their texts and boxes, marks, the period field, the
// device label, the tools, and what a modal window, a focused button, a
// disabled button and a hidden dialog do with the user's input.

#include "gui/win32/main_window.h"

#include <commctrl.h>

#include <algorithm>

#include "desktop/password_dialog_model.h"
#include "gui/win32/calibration_dialog.h"
#include "gui/win32/history_window.h"
#include "gui/win32/loop_table.h"
#include "gui/win32/password_dialog.h"
#include "gui/win32/search_dialog.h"
#include "gui/win32/site_history_window.h"
#include "gui/win32/survey_window.h"
#include "gui/win32/toggle_panel.h"
#include "loops/reading_cycle.h"
#include "platform/store/profile_file.h"
#include "platform/system/locale_info.h"
#include "record/site_record.h"
#include "session/session.h"
#include "window_driver.h"

namespace loopmon::win32 {
namespace {

using namespace loopmon::win32::testing;

constexpr int ScanLimitMs = 60000;
constexpr int PassLimitMs = 30000;

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProfileFile(folder_.file("pcom.ini")).writeString("Port", "Num", "2");
    window_ = std::make_unique<MainWindow>(
        demo_.fake.platform(),
        Desktop::Files{folder_.file("ohmgauge.kft"), folder_.file("pcom.ini")});
    calibration_ = std::make_unique<CalibrationDialog>(
        window_->hwnd(), [this] { return window_->device(); }, window_->coefficientsStore());
    password_ = std::make_unique<PasswordDialog>(window_->hwnd(), *calibration_);
    window_->setToolsAction([this](HWND owner) { password_->run(owner); });
    window_->show();
  }

  void search(const std::function<void(SearchDialog&)>& inside) {
    testing::search(*window_, inside);
    EXPECT_FALSE(window_->searchDialog().shown());
  }

  // The device at `address` as the devices found earlier list it: Enter on
  // the first line of the list; `inside` runs in the dialog before.
  void choose(uint8_t address, uint16_t type, uint8_t version,
              const std::function<void()>& inside = {}) {
    window_->session().SetDeviceType(address, type);
    window_->session().SetDeviceVersion(address, version);
    search([&](SearchDialog& d) {
      if (inside) inside();
      ASSERT_TRUE(
          pumpUntil([&] { return !drawnLines(d, search_form::DeviceList).empty(); }, PassLimitMs));
      press(d.control(search_form::DeviceList), VK_RETURN);
    });
    ASSERT_TRUE(pumpUntil([&] { return window_->device().DevAddr == address; }, PassLimitMs));
  }

  void readOnce() {
    click(main(main_form::ReadButton));
    ASSERT_TRUE(pumpUntil(
        [&] { return !window_->model().reading() && windowText(window_->hwnd()) == IdleCaption; },
        PassLimitMs));
  }

  // Press at one cell, moves over the others, release at the last.
  void drag(const std::vector<std::pair<int, int>>& cells) {
    HWND table = main(main_form::LoopTable);
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
    const RECT cell = window_->loopTable().cellRect(col, row);
    return readPainting(main(main_form::LoopTable), [&](HDC dc, const RECT&) {
      return GetPixel(dc, cell.right - 4, cell.bottom - 3);
    });
  }

  // The code typed into the password dialog that the tools button opens.
  void enterCode(const std::string& code) {
    runSoon([&] {
      HWND field = password_->control(password_form::CodeField);
      typeChars(field, widen(code));
      click(password_->control(password_form::OkButton));
    });
    click(main(main_form::ToolsButton));
  }

  HWND main(main_form::Control id) const { return window_->control(id); }
  // What the table draws.
  const LoopGridModel& loops() const { return window_->model().grid(); }
  const std::string& cell(int col, int row) const { return loops().cell(col, row); }

  TempFolder folder_;
  DemoBus demo_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<CalibrationDialog> calibration_;
  std::unique_ptr<PasswordDialog> password_;
};

TEST_F(MainWindowTest, EveryWindowStandsAsItsFormSaysAtEachDpi) {
  EXPECT_EQ(windowText(window_->hwnd()), "Состояние шлейфов приборов:");
  const auto frame = GetWindowLongW(window_->hwnd(), GWL_STYLE);
  EXPECT_EQ(frame & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_MINIMIZEBOX), WS_MINIMIZEBOX)
      << "fixed, with the close and the minimise box";
  EXPECT_TRUE(window_->toggle(main_form::AdcViewToggle).lowered());
  expectTabOrder(*window_);
  const FormWindow* windows[] = {window_.get(), &window_->searchDialog(), password_.get(),
                                 calibration_.get()};
  for (UINT dpi : {144u, 96u}) {
    for (const FormWindow* window : windows) {
      RECT suggested{100, 100, 100 + MulDiv(330, dpi, 96), 100 + MulDiv(470, dpi, 96)};
      SendMessageW(window->hwnd(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                   reinterpret_cast<LPARAM>(&suggested));
      EXPECT_EQ(window->dpi(), dpi);
      expectPlacedAsDesigned(*window);
    }
    // The table's cells grow with it: the heading row ends where the three
    // designed columns do.
    const RECT heading = window_->loopTable().cellRect(2, 0);
    EXPECT_EQ(heading.right, MulDiv(90, dpi, 96) + MulDiv(120, dpi, 96) + MulDiv(77, dpi, 96) + 2);
  }
}

TEST_F(MainWindowTest, AScanFindsTheBusAndATypeNineDeviceReadsItsLineDevices) {
  search([&](SearchDialog& d) {
    HWND button = d.control(search_form::SearchButton);
    click(button);
    EXPECT_EQ(windowText(button), "Стоп");
    ASSERT_TRUE(pumpUntil([&] { return !d.model().procedure().Scanning(); }, ScanLimitMs));
    std::vector<std::string> expected;
    for (uint8_t address : {127, 5, 12, 20, 63}) {
      expected.push_back(window_->session().DescribeDevice(address));
    }
    EXPECT_EQ(drawnLines(d, search_form::DeviceList), expected);
    SendMessageW(d.control(search_form::DeviceList), LB_SETCURSEL, 0, 0);
    click(d.control(search_form::ChooseButton));
  });
  ASSERT_TRUE(pumpUntil([&] { return window_->device().DevAddr == 127; }, PassLimitMs));
  const LoopTable& table = window_->loopTable();
  EXPECT_EQ(loops().rowCount(), 128);
  EXPECT_TRUE(GetWindowLongW(main(main_form::LoopTable), GWL_STYLE) & WS_VSCROLL);
  for (int row = 2; row < 128; ++row) ASSERT_TRUE(loops().marked(row)) << row;

  // Line device 8 is of a kind the program does not know.
  drag({{0, 8}});
  BoxCapture boxes;
  readOnce();
  EXPECT_EQ(boxes.boxes,
            std::vector<std::string>{"Шлейфы MIVRA-QX: Неизвестный тип устройства: 9"});
  EXPECT_FALSE(cell(2, 1).empty());
  EXPECT_EQ(cell(2, 8), "");
  EXPECT_EQ(cell(1, 3), "") << "a marked number is not read";

  // Scrolled to the end, the last number shows whole.
  SendMessageW(main(main_form::LoopTable), WM_VSCROLL, SB_BOTTOM, 0);
  RECT client{};
  GetClientRect(main(main_form::LoopTable), &client);
  const RECT last = table.cellRect(0, 127);
  EXPECT_TRUE(last.top >= 0 && last.bottom <= client.bottom);
}

// The devices found, surveyed from the survey window while the main window
// stays usable; the record saved with its page, compared with an earlier one
// that differs in a loop of 20 and one of 5; each change chooses its device and loop.
TEST_F(MainWindowTest, TheSurveySavesComparesAndChoosesALoop) {
  search([&](SearchDialog& d) {
    click(d.control(search_form::SearchButton));
    ASSERT_TRUE(pumpUntil([&] { return !d.model().procedure().Scanning(); }, ScanLimitMs));
    SendMessageW(d.control(search_form::DeviceList), LB_SETCURSEL, 1, 0);
    click(d.control(search_form::ChooseButton));
  });
  SurveyWindow& survey = window_->surveyWindow();
  survey.open();
  EXPECT_EQ(windowText(survey.hwnd()), "Обход шины");
  expectPlacedAsDesigned(survey);
  setWindowText(survey.control(survey_form::SiteField), "Склад 3");
  HWND start = survey.control(survey_form::SurveyButton);
  BoxCapture boxes;
  click(start);
  EXPECT_EQ(windowText(start), "Стоп");
  ASSERT_TRUE(pumpUntil([&] { return !survey.model().running(); }, ScanLimitMs));
  EXPECT_EQ(windowText(start), "Обход");
  // Line device 8 of 127 is of a kind the program does not know: told under
  // its device in the list, with no box.
  EXPECT_TRUE(boxes.boxes.empty());
  const std::vector<std::string> devices = lines(survey.control(survey_form::DevicesList));
  ASSERT_EQ(devices.size(), 6u);
  EXPECT_EQ(devices[0].rfind("Адрес 127, ", 0), 0u) << devices[0];
  EXPECT_EQ(devices[1], "    Адрес 127, ШС 8: Неизвестный тип устройства: 9");
  const SiteRecord record = *survey.model().record();
  EXPECT_EQ(record.site, "Склад 3");
  std::vector<int> addresses;
  for (const DeviceRecord& device : record.devices) addresses.push_back(device.addr);
  EXPECT_EQ(addresses, (std::vector<int>{127, 5, 12, 20, 63}));

  setSavePathHook([&](const std::string&) { return std::optional(folder_.file("site.json")); });
  click(survey.control(survey_form::SaveButton));
  setSavePathHook({});
  EXPECT_EQ(LoadRecord(folder_.file("site.json")), record);
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(widen(folder_.file("site.html")))));

  SiteRecord earlier = record;
  std::vector<int> moved;
  for (DeviceRecord& device : earlier.devices) {
    const auto loop = std::find_if(device.loops.begin(), device.loops.end(),
                                   [](const LoopRecord& l) { return l.kohm.has_value(); });
    if ((device.addr != 20 && device.addr != 5) || loop == device.loops.end()) continue;
    loop->kohm = *loop->kohm * 3 + 1;
    moved.push_back(loop->loop);
  }
  ASSERT_EQ(moved.size(), 2u);
  SaveWholeFile(folder_.file("earlier.json"), RecordJson(earlier));
  setOpenPathHook([&] { return std::optional(folder_.file("earlier.json")); });
  click(survey.control(survey_form::CompareButton));
  setOpenPathHook({});
  HWND changes = survey.control(survey_form::ChangesList);
  const std::vector<std::string> shown = lines(changes);
  ASSERT_EQ(shown.size(), 2u);
  const std::pair<int, int> choices[] = {{20, moved[1]}, {5, moved[0]}};
  for (const auto& [address, loop] : choices) {
    const std::string prefix =
        "Адрес " + std::to_string(address) + ", ШС " + std::to_string(loop) + ": сопротивление";
    const auto line = std::find_if(shown.begin(), shown.end(),
                                   [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    ASSERT_NE(line, shown.end()) << prefix;
    readOnce();
    RECT item{};
    SendMessageW(changes, LB_GETITEMRECT, static_cast<WPARAM>(line - shown.begin()),
                 reinterpret_cast<LPARAM>(&item));
    SendMessageW(changes, WM_LBUTTONDOWN, MK_LBUTTON, at(centre(item)));
    SendMessageW(changes, WM_LBUTTONUP, 0, at(centre(item)));
    ASSERT_TRUE(pumpUntil([&] { return window_->device().DevAddr == address; }, PassLimitMs));
    EXPECT_EQ(loops().chosenRow(), loop);
    // Nothing the device read before leaves behind.
    for (int row = 1; row < loops().rowCount(); ++row) EXPECT_EQ(cell(1, row) + cell(2, row), "");
  }
  // The folder of the two records: their loops, each with its visits.
  setFolderPathHook([&] { return std::optional(folder_.file("")); });
  click(survey.control(survey_form::SiteHistoryButton));
  setFolderPathHook({});
  ASSERT_NE(survey.siteHistory(), nullptr);
  SiteHistoryWindow& history = *survey.siteHistory();
  EXPECT_TRUE(IsWindowVisible(history.hwnd()));
  EXPECT_EQ(windowText(history.hwnd()), "История объекта — Склад 3");
  expectPlacedAsDesigned(history);
  HWND siteLoops = history.control(site_history_form::LoopsList);
  const std::vector<std::string> loopLines = lines(siteLoops);
  ASSERT_EQ(loopLines.size(), history.model().loops().size());
  ASSERT_GT(loopLines.size(), 1u);
  EXPECT_NE(loopLines[0].find("посещений 2"), std::string::npos) << loopLines[0];
  RECT item{};
  SendMessageW(siteLoops, LB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&item));
  SendMessageW(siteLoops, WM_LBUTTONDOWN, MK_LBUTTON, at(centre(item)));
  SendMessageW(siteLoops, WM_LBUTTONUP, 0, at(centre(item)));
  EXPECT_EQ(history.model().chosen(), std::optional<size_t>(1));
  EXPECT_TRUE(lines(history.control(site_history_form::SkippedList)).empty());
  EXPECT_TRUE(boxes.boxes.empty());
  SendMessageW(history.hwnd(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindowVisible(history.hwnd()));
  SendMessageW(survey.hwnd(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindowVisible(survey.hwnd()));
}

TEST_F(MainWindowTest, StopAndCloseInTheMiddleOfAScanEndIt) {
  search([&](SearchDialog& d) {
    HWND button = d.control(search_form::SearchButton);
    HWND progress = d.control(search_form::ProgressBar);
    click(button);
    ASSERT_TRUE(
        pumpUntil([&] { return SendMessageW(progress, PBM_GETPOS, 0, 0) >= 4; }, ScanLimitMs));
    // Stop takes effect at once, while the step in flight ends on the bus.
    click(button);
    EXPECT_EQ(windowText(button), "Поиск");
    EXPECT_EQ(windowText(d.hwnd()), "Поиск приборов");
    const int stoppedAt = d.model().procedure().ScanAddress;
    pumpFor(200);
    EXPECT_LE(d.model().procedure().ScanAddress, stoppedAt + 1);
    click(button);
    ASSERT_TRUE(
        pumpUntil([&] { return SendMessageW(progress, PBM_GETPOS, 0, 0) >= 8; }, ScanLimitMs));
    SendMessageW(d.hwnd(), WM_CLOSE, 0, 0);
  });
  const SearchDialog& d = window_->searchDialog();
  EXPECT_FALSE(d.model().procedure().Scanning());
  EXPECT_EQ(windowText(d.hwnd()), "Поиск приборов");
  EXPECT_EQ(windowText(d.control(search_form::SearchButton)), "Поиск");
  EXPECT_EQ(SendMessageW(d.control(search_form::ProgressBar), PBM_GETPOS, 0, 0), 0);
  EXPECT_EQ(window_->device().DevAddr, 0);
}

TEST_F(MainWindowTest, AMissingPortIsToldInItsBox) {
  ProfileFile(folder_.file("pcom.ini")).writeString("Port", "Num", "9");
  BoxCapture boxes;
  search([&](SearchDialog& d) { click(d.control(search_form::SearchButton)); });
  EXPECT_EQ(boxes.boxes, std::vector<std::string>{": Неопределен последовательный порт!"});
}

TEST_F(MainWindowTest, ReadingsMarksThePeriodFieldAndTheDeviceLabel) {
  choose(5, 1, 105);
  EXPECT_EQ(windowText(main(main_form::DeviceLabel)), window_->session().DescribeDevice(5));
  readOnce();
  EXPECT_EQ(cell(2, 3), "Обрыв");
  mouseClick(main(main_form::StateViewToggle));
  readOnce();
  EXPECT_EQ(cell(1, 0), "Состояние ШС");
  EXPECT_EQ(cell(1, 7), "отключен");
  mouseClick(main(main_form::AdcViewToggle));

  // Marks painted by a drag that leaves column 0 on the way, drawn red, and
  // the marked loops not read.
  drag({{0, 3}, {0, 5}, {1, 6}, {2, 8}});
  for (int row = 1; row < 21; ++row) {
    EXPECT_EQ(loops().marked(row), row >= 3 && row <= 8) << row;
  }
  EXPECT_EQ(paintedColour(0, 4), RGB(255, 0, 0));
  EXPECT_NE(paintedColour(1, 4), RGB(255, 0, 0));
  readOnce();
  for (int row = 3; row <= 8; ++row) EXPECT_EQ(cell(1, row) + cell(2, row), "") << row;
  EXPECT_FALSE(cell(1, 9).empty());

  // The period field takes digits only, keeps to 1..30, and shows the period
  // again when it is left empty.
  HWND field = main(main_form::PeriodField);
  const struct {
    const wchar_t* typed;
    const char* shown;
  } entries[] = {{L"45", "30"}, {L"0", "1"}, {L"7a", "7"}, {L"x", ""}};
  SetFocus(field);
  for (const auto& entry : entries) {
    SendMessageW(field, EM_SETSEL, 0, -1);
    SendMessageW(field, WM_CHAR, VK_BACK, 1);
    typeChars(field, entry.typed);
    EXPECT_EQ(windowText(field), entry.shown) << narrow(entry.typed);
  }
  SetFocus(main(main_form::LoopTable));
  EXPECT_EQ(windowText(field), "7");
  EXPECT_EQ(window_->model().period(), 7);

  // A double click on the device's line gives the port up until the next request.
  ASSERT_TRUE(demo_.fake.line->isOpen());
  SendMessageW(main(main_form::DeviceLabel), WM_LBUTTONDBLCLK, MK_LBUTTON, 0);
  EXPECT_TRUE(pumpUntil([&] { return !demo_.fake.line->isOpen(); }, PassLimitMs));
}

TEST_F(MainWindowTest, ABrokenCoefficientsSectionStopsTheReadingBeforeItStarts) {
  choose(5, 1, 105);
  readOnce();
  const std::string before = cell(1, 1);
  ProfileFile(folder_.file("ohmgauge.kft")).writeString("1-105", "a", "x");
  BoxCapture boxes;
  click(main(main_form::ReadButton));
  EXPECT_EQ(boxes.boxes,
            std::vector<std::string>{"Шлейфы MIVRA-QX: 'x' is not a valid floating point value"});
  EXPECT_FALSE(window_->model().reading());
  EXPECT_EQ(cell(1, 1), before) << "the table was not cleared";
}

TEST_F(MainWindowTest, TheToolsCalibrationReachesTheNextReading) {
  choose(5, 1, 105);
  enterCode(AccessCode);
  ASSERT_TRUE(IsWindowVisible(calibration_->hwnd()));
  // No section stored for 1-105 yet: the user picks a type and a version.
  SendMessageW(calibration_->control(calibration_form::TypeSelector), CB_SETCURSEL, 0, 0);
  const std::pair<calibration_form::Control, std::string> entries[] = {
      {calibration_form::VersionField, std::string("1") + userDecimalSeparator() + "05"},
      {calibration_form::R1Field, "2"},
      {calibration_form::Acp1Field, "200"},
      {calibration_form::R2Field, "4"},
      {calibration_form::Acp2Field, "100"}};
  for (const auto& [id, text] : entries) setWindowText(calibration_->control(id), text);
  click(calibration_->control(calibration_form::EnterButton));
  EXPECT_FALSE(IsWindowVisible(calibration_->hwnd()));
  readOnce();
  const Coefficients used = window_->model().readingCycle().UsedCoefficients();
  EXPECT_DOUBLE_EQ(used.a, 400);
  EXPECT_DOUBLE_EQ(used.b, 0);
  EXPECT_EQ(ProfileFile(folder_.file("ohmgauge.kft")).readString("1-105", "ACP1", ""), "200");
}

// The search and password dialogs and the reading's boxes leave no other
// window usable: the calibration dialog above all could otherwise store a
// section for the device the search has just cleared.
TEST_F(MainWindowTest, AModalWindowOrBoxLeavesNoOtherWindowUsable) {
  calibration_->show(window_->hwnd());
  std::vector<bool> usable;
  const auto note = [&] {
    usable.push_back(enabled(window_->hwnd()));
    usable.push_back(enabled(calibration_->hwnd()));
  };
  choose(127, 9, 101, note);
  runSoon([&] {
    note();
    password_->endModal();
  });
  click(main(main_form::ToolsButton));
  drag({{0, 8}});
  BoxCapture boxes;
  boxes.whileShown = [&] { usable.push_back(enabled(calibration_->hwnd())); };
  readOnce();
  EXPECT_EQ(usable, std::vector<bool>(5, false));
  EXPECT_TRUE(enabled(window_->hwnd()) && enabled(calibration_->hwnd()));
}

// The check of the devices found earlier ends as the dialog closes: its last
// focus call finds the dialog hidden and leaves the keyboard where it is.
TEST_F(MainWindowTest, AClosedSearchDialogLeavesTheKeyboardToTheMainWindow) {
  for (uint8_t address : {5, 12, 20, 63, 127}) window_->session().SetDeviceType(address, 1);
  SearchDialog& dialog = window_->searchDialog();
  search([&](SearchDialog& d) { press(d.control(search_form::DeviceList), VK_ESCAPE); });
  pumpFor(300);
  EXPECT_FALSE(IsWindowVisible(dialog.hwnd()));
  EXPECT_NE(GetActiveWindow(), dialog.hwnd());
  EXPECT_FALSE(IsChild(dialog.hwnd(), GetFocus()));
}

TEST_F(MainWindowTest, EnterClicksTheFocusedButton) {
  choose(5, 1, 105);
  SetFocus(main(main_form::ReadButton));
  press(main(main_form::ReadButton), VK_RETURN);
  ASSERT_TRUE(
      pumpUntil([&] { return !cell(1, 20).empty() && !window_->model().reading(); }, PassLimitMs));
  bool closed = false;
  search([&](SearchDialog& d) {
    SetFocus(d.control(search_form::CancelButton));
    press(d.control(search_form::CancelButton), VK_RETURN);
    closed = !d.shown();
  });
  EXPECT_TRUE(closed);
}

// A disabled button gets no mouse messages: its hint is its window's, over
// the button's rectangle.
TEST_F(MainWindowTest, DisabledButtonsStillShowTheirHints) {
  std::pair<HWND, HWND> ownerAndHints{window_->hwnd(), nullptr};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND found, LPARAM data) {
        auto* wanted = reinterpret_cast<std::pair<HWND, HWND>*>(data);
        wchar_t name[64] = {};
        GetClassNameW(found, name, 64);
        if (lstrcmpW(name, TOOLTIPS_CLASSW) != 0 || GetWindow(found, GW_OWNER) != wanted->first) {
          return TRUE;
        }
        wanted->second = found;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&ownerAndHints));
  ASSERT_NE(ownerAndHints.second, nullptr);
  for (main_form::Control id : {main_form::ReadButton, main_form::PeriodicButton}) {
    ASSERT_FALSE(enabled(main(id)));
    wchar_t text[256] = {};
    TTHITTESTINFOW hit{};
    hit.hwnd = window_->hwnd();
    hit.pt = centre(placedRect(main(id)));
    hit.ti.cbSize = sizeof hit.ti;
    hit.ti.lpszText = text;
    EXPECT_TRUE(
        SendMessageW(ownerAndHints.second, TTM_HITTESTW, 0, reinterpret_cast<LPARAM>(&hit)));
    EXPECT_EQ(narrow(text, wcslen(text)), main_form::Form.control(id).hint);
  }
}

}  // namespace
}  // namespace loopmon::win32
