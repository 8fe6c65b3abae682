#include "gui/win32/main_window.h"

#include <commctrl.h>

#include <algorithm>
#include <charconv>

#include "gui/win32/history_window.h"
#include "gui/win32/loop_table.h"
#include "gui/win32/message_box.h"
#include "gui/win32/resources/resource_ids.h"
#include "gui/win32/search_dialog.h"
#include "gui/win32/survey_window.h"
#include "gui/win32/toggle_panel.h"
#include "gui/win32/traffic_window.h"
#include "gui/win32/window_thread.h"
#include "session/session.h"

namespace loopmon::win32 {

namespace {

constexpr UINT_PTR TickTimerId = 1;

}  // namespace

MainWindow::MainWindow(Platform platform, Desktop::Files files)
    : FormWindow(main_form::Form, LOOPMON_ICON_APP) {
  dispatcher_ = std::make_shared<WindowThreadDispatcher>();
  // Every follow-up of an exchange runs on this window's thread, under the
  // general error handler.
  desktop_ = std::make_unique<Desktop>(
      std::move(platform), std::move(files), dispatcher_, [this](std::function<void()> call) {
        dispatcher_->post([this, call = std::move(call)] { runHandler(hwnd(), call); });
      });
  setFileFolders(&desktop_->folders());
  create();
  searchDialog_ = std::make_unique<SearchDialog>(
      hwnd(), &desktop_->bus(), desktop_->files().portSettings, desktop_->portChoices());

  LoopTable& loops = table();
  loops.onPress = [this](int col, int row, bool left) {
    forward([&](MainWindowModel& m) { m.tablePressed(col, row, left); });
  };
  loops.onDrag = [this](int col, int row, bool onlyLeft) {
    forward([&](MainWindowModel& m) { m.tableDragged(col, row, onlyLeft); });
  };
  loops.onRelease = [this](int row, bool left) {
    forward([&](MainWindowModel& m) { m.tableReleased(row, left); });
  };
  loops.onContextMenu = [this](int row, POINT point) { showLoopMenu(row, point); };
  model_ = std::make_unique<MainWindowModel>(static_cast<MainWindowView&>(*this), desktop_->bus(),
                                             desktop_->store());
  loops.setGrid(&model_->grid());
}

MainWindow::~MainWindow() {
  setFileFolders(nullptr);
  // The bus thread ends before the models its follow-ups would reach.
  KillTimer(hwnd(), TickTimerId);
  desktop_->stopBus();
  historyWindows_.clear();
  trafficWindow_.reset();
  surveyWindow_.reset();
}

LoopTable& MainWindow::table() {
  return custom<LoopTable>(main_form::LoopTable);
}

const LoopTable& MainWindow::loopTable() const {
  return custom<LoopTable>(main_form::LoopTable);
}

const TogglePanel& MainWindow::toggle(main_form::Control id) const {
  return custom<TogglePanel>(id);
}

TrafficWindow& MainWindow::trafficWindow() {
  if (!trafficWindow_)
    trafficWindow_ = std::make_unique<TrafficWindow>(hwnd(), desktop_->session().Trace());
  return *trafficWindow_;
}

SurveyWindow& MainWindow::surveyWindow() {
  if (!surveyWindow_) {
    surveyWindow_ = std::make_unique<SurveyWindow>(
        hwnd(), desktop_->bus(), desktop_->store(), [this](uint8_t address, int loop) {
          forward([&](MainWindowModel& m) { m.loopChosen(address, loop); });
        });
  }
  return *surveyWindow_;
}

HistoryWindow* MainWindow::historyWindow(LoopKey key) const {
  const auto found = historyWindows_.find(key);
  return found == historyWindows_.end() ? nullptr : found->second.get();
}

template <class Input>
void MainWindow::forward(Input input) {
  // The controls report their first texts before the model is there.
  if (model_) runHandler(hwnd(), [&] { input(*model_); });
}

bool MainWindow::acceptsChar(int id, wchar_t character) {
  return id != main_form::PeriodField ||
         MainWindowModel::periodKeyAccepted(static_cast<char32_t>(character));
}

void MainWindow::onTimer(UINT_PTR id) {
  if (id != TickTimerId) return;
  // One shot: the reading starts the next tick itself.
  KillTimer(hwnd(), TickTimerId);
  forward([](MainWindowModel& m) { m.timerFired(); });
}

void MainWindow::onClose() {
  ShowWindow(hwnd(), SW_HIDE);
  if (closedAction_) closedAction_();
}

void MainWindow::onCommand(int id, int code) {
  using namespace main_form;
  if (id == PeriodField) {
    if (code == EN_CHANGE && !writingPeriod_) onPeriodEdited();
    if (code == EN_KILLFOCUS) forward([](MainWindowModel& m) { m.periodFieldLeft(); });
    return;
  }
  if (id == DeviceLabel) {
    if (code == STN_DBLCLK) forward([](MainWindowModel& m) { m.deviceLabelDoubleClicked(); });
    return;
  }
  if (code != BN_CLICKED) return;
  switch (id) {
    case SearchButton:
      forward([](MainWindowModel& m) { m.searchClicked(); });
      break;
    case ReadButton:
      forward([](MainWindowModel& m) { m.readClicked(); });
      break;
    case AdcViewToggle:
      forward([](MainWindowModel& m) { m.adcViewClicked(); });
      break;
    case StateViewToggle:
      forward([](MainWindowModel& m) { m.stateViewClicked(); });
      break;
    case ToolsButton:
      forward([](MainWindowModel& m) { m.toolsClicked(); });
      break;
    case PeriodicButton: {
      const bool down = SendMessageW(control(PeriodicButton), BM_GETCHECK, 0, 0) == BST_CHECKED;
      forward([down](MainWindowModel& m) { m.periodicClicked(down); });
      break;
    }
    default:
      break;
  }
}

void MainWindow::onPeriodEdited() {
  const std::string text = windowText(control(main_form::PeriodField));
  // An emptied field waits for the next digit, or shows the period again
  // when it is left.
  if (text.empty()) return;
  int seconds = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (error != std::errc() || end != text.data() + text.size()) {
    // Pasted text that is no number: the field shows the period again.
    showPeriod(model_->period());
    return;
  }
  forward([seconds](MainWindowModel& m) { m.periodChanged(seconds); });
}

void MainWindow::showLoopMenu(int row, POINT screenPoint) {
  constexpr UINT HistoryItem = 1;
  constexpr UINT TrafficItem = 2;
  constexpr UINT SurveyItem = 3;
  HMENU menu = CreatePopupMenu();
  // The traffic is offered anywhere on the table, a loop's history on its row.
  const UINT state = row > 0 && model_->historyKey(row) ? MF_ENABLED : MF_GRAYED;
  AppendMenuW(menu, MF_STRING | state, HistoryItem, widen(texts::LoopHistoryItem).c_str());
  AppendMenuW(menu, MF_STRING, TrafficItem, widen(texts::TrafficItem).c_str());
  AppendMenuW(menu, MF_STRING, SurveyItem, widen(texts::SurveyItem).c_str());
  const UINT chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, screenPoint.x,
                                     screenPoint.y, 0, hwnd(), nullptr);
  DestroyMenu(menu);
  if (chosen == HistoryItem) forward([row](MainWindowModel& m) { m.historyClicked(row); });
  if (chosen == TrafficItem) trafficWindow().open();
  if (chosen == SurveyItem) surveyWindow().open();
}

void MainWindow::showCaption(const std::string& caption) {
  setWindowText(hwnd(), caption);
}

void MainWindow::showDeviceLabel(const std::string& text) {
  setWindowText(control(main_form::DeviceLabel), text);
  // The label takes the width of its new text.
  layOut();
}

void MainWindow::showReadControls(bool readEnabled, bool periodicEnabled, bool periodEnabled) {
  enable(main_form::ReadButton, readEnabled);
  enable(main_form::PeriodicButton, periodicEnabled);
  enable(main_form::PeriodField, periodEnabled);
}

void MainWindow::showPeriodicDown(bool down) {
  SendMessageW(control(main_form::PeriodicButton), BM_SETCHECK, down ? BST_CHECKED : BST_UNCHECKED,
               0);
}

void MainWindow::showPeriod(int seconds) {
  HWND field = control(main_form::PeriodField);
  writingPeriod_ = true;
  setWindowText(field, std::to_string(seconds));
  writingPeriod_ = false;
  // The caret after the digits, where the user goes on typing.
  SendMessageW(field, EM_SETSEL, 2, 2);
}

void MainWindow::showView(bool adcView) {
  custom<TogglePanel>(main_form::AdcViewToggle).setLowered(adcView);
  custom<TogglePanel>(main_form::StateViewToggle).setLowered(!adcView);
}

void MainWindow::showGrid() {
  table().gridChanged();
}

void MainWindow::showGridCell(int column, int row) {
  table().cellChanged(column, row);
}

void MainWindow::showHistory(LoopKey key) {
  std::unique_ptr<HistoryWindow>& history = historyWindows_[key];
  if (!history) history = std::make_unique<HistoryWindow>(hwnd(), model_->history(), key);
  history->open();
}

void MainWindow::startTimer(int delayMs) {
  SetTimer(hwnd(), TickTimerId, static_cast<UINT>(std::max(delayMs, 1)), nullptr);
}

void MainWindow::stopTimer() {
  KillTimer(hwnd(), TickTimerId);
}

void MainWindow::showMessage(const std::string& text) {
  showMessageBox(hwnd(), text, texts::ApplicationTitle, 0);
}

uint8_t MainWindow::runSearchDialog() {
  return searchDialog_->run(hwnd());
}

void MainWindow::showPasswordDialog() {
  if (toolsAction_) toolsAction_(hwnd());
}

}  // namespace loopmon::win32
