// The main window as it opens: its controls where and how they were designed,
// at 96 DPI and again after a move to a 150 % monitor, the hints, the tab
// order, and the view switch through the toggle panels.

#include "gui/win32/main_window.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include "fake_platform.h"
#include "gui/win32/loop_table.h"
#include "gui/win32/toggle_panel.h"
#include "window_driver.h"

namespace loopmon::win32 {
namespace {

using namespace loopmon::win32::testing;

RECT clientRectOf(HWND control) {
  RECT rect{};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

std::string className(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return narrow(name, wcslen(name));
}

struct Designed {
  MainWindow::Control id;
  const char* windowClass;
  const char* text;
  RECT at96;
  bool enabled;
  const char* hint;
};

const Designed Controls[] = {
    {MainWindow::SearchButtonId,
     "Button",
     "",
     {8, 3, 33, 28},
     true,
     "Произвести поиск подключенных устройств"},
    {MainWindow::LoopTableId, "LoopmonLoopTable", "", {8, 32, 303, 394}, true, ""},
    {MainWindow::ReadButtonId,
     "Button",
     "Считать",
     {8, 399, 102, 424},
     false,
     "Считать текущие значения сопротивлений ШС"},
    {MainWindow::AdcViewToggleId, "LoopmonTogglePanel", "АЦП", {106, 400, 146, 424}, true, ""},
    {MainWindow::StateViewToggleId, "LoopmonTogglePanel", "ШС", {144, 399, 184, 424}, true, ""},
    {MainWindow::ToolsButtonId,
     "Button",
     "",
     {190, 399, 215, 424},
     true,
     "Настройка значений сопротивлений"},
    {MainWindow::PeriodicButtonId,
     "Button",
     "",
     {216, 399, 241, 424},
     false,
     "Считывать значения сопротивлений ШС с установленным периодом"},
};

RECT scaledRect(const RECT& rect, UINT dpi) {
  return RECT{MulDiv(rect.left, dpi, 96), MulDiv(rect.top, dpi, 96), MulDiv(rect.right, dpi, 96),
              MulDiv(rect.bottom, dpi, 96)};
}

class MainWindowLook : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = std::make_unique<MainWindow>(
        fake_.platform(),
        MainWindow::Files{folder_.file("ohmgauge.kft"), folder_.file("pcom.ini")});
    window_->show();
  }

  void expectDesignedAt(UINT dpi) {
    RECT client{};
    GetClientRect(window_->window(), &client);
    EXPECT_EQ(client.right, MulDiv(311, dpi, 96));
    EXPECT_EQ(client.bottom, MulDiv(434, dpi, 96));
    for (const Designed& d : Controls) {
      SCOPED_TRACE(d.id);
      const RECT expected = scaledRect(d.at96, dpi);
      const RECT actual = clientRectOf(window_->control(d.id));
      EXPECT_EQ(actual.left, expected.left);
      EXPECT_EQ(actual.top, expected.top);
      EXPECT_EQ(actual.right, expected.right);
      EXPECT_EQ(actual.bottom, expected.bottom);
    }
    // The period field and its spin share the field's rectangle.
    RECT field = clientRectOf(window_->control(MainWindow::PeriodFieldId));
    const RECT spin = clientRectOf(window_->control(MainWindow::PeriodSpinId));
    UnionRect(&field, &field, &spin);
    const RECT expected = scaledRect({248, 398, 305, 424}, dpi);
    EXPECT_TRUE(EqualRect(&field, &expected))
        << field.left << "," << field.top << "," << field.right << "," << field.bottom;
    const RECT label = clientRectOf(window_->control(MainWindow::DeviceLabelId));
    EXPECT_EQ(label.left, MulDiv(40, dpi, 96));
    EXPECT_EQ(label.top, MulDiv(7, dpi, 96));
  }

  TempFolder folder_;
  loopmon::testing::FakePlatform fake_;
  std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowLook, ControlsAsDesigned) {
  EXPECT_EQ(windowText(window_->window()), "Состояние шлейфов приборов:");
  EXPECT_EQ(windowText(window_->control(MainWindow::DeviceLabelId)), "Прибор не выбран.");
  for (const Designed& d : Controls) {
    SCOPED_TRACE(d.id);
    HWND control = window_->control(d.id);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(className(control), d.windowClass);
    EXPECT_EQ(windowText(control), d.text);
    EXPECT_EQ(enabled(control), d.enabled);
    EXPECT_EQ(window_->hint(d.id), d.hint);
  }
  const auto style = GetWindowLongW(window_->control(MainWindow::PeriodicButtonId), GWL_STYLE);
  EXPECT_EQ(style & BS_PUSHLIKE, BS_PUSHLIKE) << "the periodic button latches";
  EXPECT_EQ(windowText(window_->control(MainWindow::PeriodFieldId)), "1");
  EXPECT_FALSE(enabled(window_->control(MainWindow::PeriodFieldId)));
  EXPECT_TRUE(window_->adcViewToggle().lowered());
  EXPECT_FALSE(window_->stateViewToggle().lowered());
  EXPECT_FALSE(window_->loopTable().verticalScrollBarShown());
  const auto frame = GetWindowLongW(window_->window(), GWL_STYLE);
  EXPECT_EQ(frame & WS_THICKFRAME, 0) << "not resizable";
  EXPECT_EQ(frame & (WS_MAXIMIZEBOX | WS_MINIMIZEBOX), 0) << "the close box is the only one";
  expectDesignedAt(96);
}

TEST_F(MainWindowLook, AMoveToAnotherDpiLaysTheWindowOutAgain) {
  for (UINT dpi : {144u, 96u}) {
    SCOPED_TRACE(dpi);
    RECT suggested{100, 100, 100 + MulDiv(330, dpi, 96), 100 + MulDiv(470, dpi, 96)};
    SendMessageW(window_->window(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                 reinterpret_cast<LPARAM>(&suggested));
    expectDesignedAt(dpi);
    // The table's cells grow with it: the last visible heading cell ends where
    // the three designed columns do.
    const RECT heading = window_->loopTable().cellRect(2, 0);
    EXPECT_EQ(heading.right, MulDiv(90, dpi, 96) + MulDiv(120, dpi, 96) + MulDiv(77, dpi, 96) + 2);
    EXPECT_EQ(heading.bottom - heading.top, MulDiv(16, dpi, 96));
  }
}

TEST_F(MainWindowLook, TabGoesThroughTheControlsInDesignedOrder) {
  HWND window = window_->window();
  // The read, periodic and period controls are disabled without a device.
  const MainWindow::Control order[] = {MainWindow::SearchButtonId, MainWindow::LoopTableId,
                                       MainWindow::ToolsButtonId, MainWindow::SearchButtonId};
  HWND at = window_->control(order[0]);
  for (size_t i = 1; i < std::size(order); ++i) {
    at = GetNextDlgTabItem(window, at, FALSE);
    EXPECT_EQ(at, window_->control(order[i])) << i;
  }
}

TEST_F(MainWindowLook, ThePanelsSwitchTheViewAndItsHeadings) {
  const LoopTable& table = window_->loopTable();
  const struct {
    MainWindow::Control panel;
    bool adc;
    std::array<const char*, 3> headings;
    std::array<int, 3> widths;
  } switches[] = {
      {MainWindow::StateViewToggleId, false, {"Номер ШС", "Состояние ШС", ""}, {144, 144, 144}},
      {MainWindow::StateViewToggleId, false, {"Номер ШС", "Состояние ШС", ""}, {144, 144, 144}},
      {MainWindow::AdcViewToggleId, true, {"Номер ШС", "Показание АЦП", "R кОм"}, {90, 120, 77}},
  };
  for (const auto& s : switches) {
    mouseClick(window_->control(s.panel));
    EXPECT_EQ(window_->adcViewToggle().lowered(), s.adc);
    EXPECT_EQ(window_->stateViewToggle().lowered(), !s.adc);
    for (int col = 0; col < 3; ++col) {
      EXPECT_EQ(table.cell(col, 0), s.headings[col]) << col;
      EXPECT_EQ(table.colWidth(col), s.widths[col]) << col;
    }
  }
  // A press that leaves the panel before the release is no click.
  HWND state = window_->control(MainWindow::StateViewToggleId);
  SendMessageW(state, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  SendMessageW(state, WM_LBUTTONUP, 0, MAKELPARAM(-30, 5));
  EXPECT_TRUE(window_->adcViewToggle().lowered());
}

}  // namespace
}  // namespace loopmon::win32
