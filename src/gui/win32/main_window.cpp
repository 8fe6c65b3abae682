#include "gui/win32/main_window.h"

#include <commctrl.h>

#include <algorithm>
#include <charconv>
#include <cwchar>
#include <iterator>

#include "gui/win32/controls.h"
#include "gui/win32/dpi.h"
#include "gui/win32/history_window.h"
#include "gui/win32/loop_table.h"
#include "gui/win32/message_box.h"
#include "gui/win32/resources/resource_ids.h"
#include "gui/win32/search_dialog.h"
#include "gui/win32/toggle_panel.h"
#include "gui/win32/window_thread.h"
#include "platform/port_names.h"
#include "platform/program_folder.h"
#include "search/port_choices.h"
#include "session/bus_runner.h"
#include "session/session.h"

namespace loopmon::win32 {

namespace {

constexpr wchar_t ClassName[] = L"LoopmonMainWindow";
constexpr int ClientWidth = 311;
constexpr int ClientHeight = 434;
constexpr DWORD Style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD ExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
constexpr UINT_PTR TickTimerId = 1;
constexpr int IconSize = 16;
constexpr int PeriodSpinWidth = 16;

// The program's icon resources.
constexpr int AppIconId = LOOPMON_ICON_APP;
constexpr int SearchIconId = LOOPMON_ICON_SEARCH;
constexpr int ReadIconId = LOOPMON_ICON_READ;
constexpr int ToolsIconId = LOOPMON_ICON_TOOLS;
constexpr int PeriodicIconId = LOOPMON_ICON_PERIODIC;

void destroyIcon(HICON& icon) {
  if (icon) DestroyIcon(icon);
  icon = nullptr;
}

}  // namespace

MainWindow::Files MainWindow::Files::besideProgram() {
  return {CoefficientsFilePath(), besideProgramPath("pcom.ini")};
}

MainWindow::MainWindow(Platform platform, Files files) : store_(files.coefficients) {
  const std::shared_ptr<Registry> registry = platform.registry;
  dispatcher_ = std::make_shared<WindowThreadDispatcher>();
  session_ = std::make_unique<TRSSession>(std::move(platform), dispatcher_);
  session_->SetComPort(1);
  session_->SetWork(false);
  session_->SetSearchPriority(0);
  // Every follow-up of an exchange runs on this window's thread, under the
  // general error handler.
  bus_ = std::make_unique<BusThread>(*session_, [this](std::function<void()> call) {
    dispatcher_->post([this, call = std::move(call)] { runHandler(window_, call); });
  });

  SearchDialogModel::PortChoices portChoices;
  if (registry) portChoices = [registry] { return searchPortChoices(listPorts(*registry)); };
  searchDialog_ = std::make_unique<SearchDialog>(bus_.get(), files.portSettings, portChoices);

  createWindow();
  createControls();
  updateDpi(windowDpi(window_));
  centreOnMonitor(window_);
  model_ = std::make_unique<MainWindowModel>(static_cast<MainWindowView&>(*this), *bus_, store_);
}

MainWindow::~MainWindow() {
  // The bus thread ends before the models its follow-ups would reach.
  KillTimer(window_, TickTimerId);
  bus_.reset();
  SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  loopTable_.reset();
  adcViewToggle_.reset();
  stateViewToggle_.reset();
  DestroyWindow(tooltips_);
  DestroyWindow(window_);
  if (font_) DeleteObject(font_);
  for (HICON* icon : {&icons_.app, &icons_.search, &icons_.read, &icons_.tools, &icons_.periodic}) {
    destroyIcon(*icon);
  }
}

void MainWindow::createWindow() {
  registerWindowClass(
      ClassName, {.background = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1), .iconId = AppIconId});
  window_ = CreateWindowExW(ExStyle, ClassName, L"", Style, CW_USEDEFAULT, CW_USEDEFAULT, 0, 0,
                            nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&windowProc));
}

void MainWindow::createControls() {
  // Created in tab order.
  createControl(window_, WC_BUTTONW, "", WS_TABSTOP | BS_PUSHBUTTON | BS_ICON, SearchButtonId);
  createControl(window_, WC_STATICW, "", SS_LEFT | SS_NOPREFIX | SS_NOTIFY, DeviceLabelId);

  loopTable_ = std::make_unique<LoopTable>(window_, LoopTableId);
  loopTable_->onPress = [this](int col, int row, bool left) {
    forward([&](MainWindowModel& m) { m.tablePressed(col, row, left); });
  };
  loopTable_->onDrag = [this](int col, int row, bool onlyLeft) {
    forward([&](MainWindowModel& m) { m.tableDragged(col, row, onlyLeft); });
  };
  loopTable_->onRelease = [this](int row, bool left) {
    forward([&](MainWindowModel& m) { m.tableReleased(row, left); });
  };
  loopTable_->onContextMenu = [this](int row, POINT point) { showLoopMenu(row, point); };

  createControl(window_, WC_BUTTONW, "Считать", WS_TABSTOP | BS_PUSHBUTTON | WS_DISABLED,
                ReadButtonId);
  adcViewToggle_ = std::make_unique<TogglePanel>(window_, AdcViewToggleId, "АЦП");
  stateViewToggle_ = std::make_unique<TogglePanel>(window_, StateViewToggleId, "ШС");
  createControl(window_, WC_BUTTONW, "", WS_TABSTOP | BS_PUSHBUTTON | BS_ICON, ToolsButtonId);
  // The latching button: a check box drawn as a button stays down while checked.
  createControl(window_, WC_BUTTONW, "",
                WS_TABSTOP | BS_AUTOCHECKBOX | BS_PUSHLIKE | BS_ICON | WS_DISABLED,
                PeriodicButtonId);

  HWND field = createControl(window_, WC_EDITW, "1", WS_TABSTOP | ES_LEFT | WS_DISABLED,
                             PeriodFieldId, WS_EX_CLIENTEDGE);
  SendMessageW(field, EM_LIMITTEXT, 2, 0);
  SetWindowSubclass(field, &periodFieldProc, 0, reinterpret_cast<DWORD_PTR>(this));
  HWND spin =
      createControl(window_, UPDOWN_CLASSW, "",
                    UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS | WS_DISABLED, PeriodSpinId);
  SendMessageW(spin, UDM_SETBUDDY, reinterpret_cast<WPARAM>(field), 0);
  SendMessageW(spin, UDM_SETRANGE32, MinPeriodSeconds, MaxPeriodSeconds);
  SendMessageW(spin, UDM_SETPOS32, 0, MinPeriodSeconds);

  addHints();
}

void MainWindow::addHints() {
  tooltips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
  const std::pair<Control, const char*> hints[] = {
      {SearchButtonId, "Произвести поиск подключенных устройств"},
      {ReadButtonId, "Считать текущие значения сопротивлений ШС"},
      {ToolsButtonId, "Настройка значений сопротивлений"},
      {PeriodicButtonId, "Считывать значения сопротивлений ШС с установленным периодом"},
  };
  for (const auto& [id, text] : hints) {
    std::wstring wide = widen(text);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = window_;
    tool.uId = reinterpret_cast<UINT_PTR>(control(id));
    tool.lpszText = wide.data();
    SendMessageW(tooltips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

std::string MainWindow::hint(Control id) const {
  // Long enough for any hint of the window.
  wchar_t text[256] = {};
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.hwnd = window_;
  tool.uId = reinterpret_cast<UINT_PTR>(control(id));
  tool.lpszText = text;
  SendMessageW(tooltips_, TTM_GETTEXTW, std::size(text), reinterpret_cast<LPARAM>(&tool));
  return narrow(text, std::wcslen(text));
}

void MainWindow::updateDpi(UINT dpi) {
  dpi_ = dpi;
  HFONT old = font_;
  font_ = createDesignedFont(L"System", 13, true, dpi_);

  const int iconSize = scaled(IconSize, dpi_);
  Icons icons{loadProgramIcon(AppIconId, iconSize), loadProgramIcon(SearchIconId, iconSize),
              loadProgramIcon(ReadIconId, iconSize), loadProgramIcon(ToolsIconId, iconSize),
              loadProgramIcon(PeriodicIconId, iconSize)};
  SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icons.app));
  const std::pair<Control, HICON> buttons[] = {{SearchButtonId, icons.search},
                                               {ReadButtonId, icons.read},
                                               {ToolsButtonId, icons.tools},
                                               {PeriodicButtonId, icons.periodic}};
  for (const auto& [id, icon] : buttons) {
    SendMessageW(control(id), BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
  }
  for (HICON* icon : {&icons_.app, &icons_.search, &icons_.read, &icons_.tools, &icons_.periodic}) {
    destroyIcon(*icon);
  }
  icons_ = icons;

  layOut();
  if (old) DeleteObject(old);
}

void MainWindow::layOut() {
  setClientSize(window_, ClientWidth, ClientHeight, dpi_);
  DesignedLayout layout;
  layout.add(control(SearchButtonId), 8, 3, 25, 25);
  layout.add(loopTable_->window(), 8, 32, 295, 362);
  layout.add(control(ReadButtonId), 8, 399, 94, 25);
  layout.add(adcViewToggle_->window(), 106, 400, 40, 24);
  layout.add(stateViewToggle_->window(), 144, 399, 40, 25);
  layout.add(control(ToolsButtonId), 190, 399, 25, 25);
  layout.add(control(PeriodicButtonId), 216, 399, 25, 25);
  // The field and its spin share the designed rectangle, the spin at its right end.
  layout.add(control(PeriodFieldId), 248, 398, 57 - PeriodSpinWidth, 26);
  layout.add(control(PeriodSpinId), 248 + 57 - PeriodSpinWidth, 398, PeriodSpinWidth, 26);
  layout.apply(dpi_, font_);
  loopTable_->setFont(font_, dpi_);
  sizeDeviceLabel();
}

void MainWindow::sizeDeviceLabel() {
  // The label sizes itself to its text, as the designed one did.
  HWND label = control(DeviceLabelId);
  const SIZE extent = textExtent(label, font_);
  const int height = std::max<int>(extent.cy, scaled(16, dpi_));
  SetWindowPos(label, nullptr, scaled(40, dpi_), scaled(7, dpi_), extent.cx, height,
               SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(label, nullptr, TRUE);
}

void MainWindow::show() {
  ShowWindow(window_, SW_SHOW);
  UpdateWindow(window_);
}

bool MainWindow::translateDialogMessage(MSG& message) {
  return IsDialogMessageW(window_, &message) != FALSE;
}

template <class Input>
void MainWindow::forward(Input input) {
  runHandler(window_, [&] { input(*model_); });
}

LRESULT CALLBACK MainWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr || !self->model_) return DefWindowProcW(window, message, wParam, lParam);
  return self->handle(message, wParam, lParam);
}

LRESULT CALLBACK MainWindow::periodFieldProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam, UINT_PTR, DWORD_PTR) {
  if (message == WM_CHAR && !MainWindowModel::periodKeyAccepted(static_cast<char32_t>(wParam))) {
    return 0;
  }
  return DefSubclassProc(window, message, wParam, lParam);
}

LRESULT MainWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      onCommand(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_TIMER:
      if (wParam == TickTimerId) {
        // One shot: the reading starts the next tick itself.
        KillTimer(window_, TickTimerId);
        forward([](MainWindowModel& m) { m.timerFired(); });
        return 0;
      }
      break;
    case WM_CLOSE:
      ShowWindow(window_, SW_HIDE);
      if (closedAction_) closedAction_();
      return 0;
    case WM_DPICHANGED: {
      updateDpi(HIWORD(wParam));
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(window_, nullptr, suggested->left, suggested->top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

void MainWindow::onCommand(int id, int code) {
  switch (id) {
    case SearchButtonId:
      if (code == BN_CLICKED) forward([](MainWindowModel& m) { m.searchClicked(); });
      break;
    case ReadButtonId:
      if (code == BN_CLICKED) forward([](MainWindowModel& m) { m.readClicked(); });
      break;
    case AdcViewToggleId:
      if (code == BN_CLICKED) forward([](MainWindowModel& m) { m.adcViewClicked(); });
      break;
    case StateViewToggleId:
      if (code == BN_CLICKED) forward([](MainWindowModel& m) { m.stateViewClicked(); });
      break;
    case ToolsButtonId:
      if (code == BN_CLICKED) forward([](MainWindowModel& m) { m.toolsClicked(); });
      break;
    case PeriodicButtonId:
      if (code == BN_CLICKED) {
        const bool down = SendMessageW(control(PeriodicButtonId), BM_GETCHECK, 0, 0) == BST_CHECKED;
        forward([down](MainWindowModel& m) { m.periodicClicked(down); });
      }
      break;
    case PeriodFieldId:
      if (code == EN_CHANGE && !writingPeriod_) onPeriodEdited();
      break;
    case DeviceLabelId:
      if (code == STN_DBLCLK) forward([](MainWindowModel& m) { m.deviceLabelDoubleClicked(); });
      break;
    default:
      break;
  }
}

void MainWindow::onPeriodEdited() {
  const std::string text = windowText(control(PeriodFieldId));
  // An emptied field waits for the next digit; the period meanwhile stays.
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

void MainWindow::showCaption(const std::string& caption) {
  setWindowText(window_, caption);
}

void MainWindow::showDeviceLabel(const std::string& text) {
  setWindowText(control(DeviceLabelId), text);
  sizeDeviceLabel();
}

void MainWindow::showReadControls(bool readEnabled, bool periodicEnabled, bool periodEnabled) {
  EnableWindow(control(ReadButtonId), readEnabled);
  EnableWindow(control(PeriodicButtonId), periodicEnabled);
  EnableWindow(control(PeriodFieldId), periodEnabled);
  EnableWindow(control(PeriodSpinId), periodEnabled);
}

void MainWindow::showPeriodicDown(bool down) {
  SendMessageW(control(PeriodicButtonId), BM_SETCHECK, down ? BST_CHECKED : BST_UNCHECKED, 0);
}

void MainWindow::showPeriod(int seconds) {
  HWND field = control(PeriodFieldId);
  writingPeriod_ = true;
  setWindowText(field, std::to_string(seconds));
  writingPeriod_ = false;
  SendMessageW(control(PeriodSpinId), UDM_SETPOS32, 0, seconds);
  // The caret after the digits, where the user goes on typing.
  SendMessageW(field, EM_SETSEL, 2, 2);
}

void MainWindow::showView(bool adcView) {
  adcViewToggle_->setLowered(adcView);
  stateViewToggle_->setLowered(!adcView);
  if (adcView) {
    loopTable_->setDefaultColWidth(90);
    loopTable_->setColWidth(1, 120);
    loopTable_->setColWidth(2, 77);
  } else {
    loopTable_->setDefaultColWidth(144);
  }
}

void MainWindow::showRowCount(int rows, bool scrollBar) {
  loopTable_->setRowCount(rows);
  loopTable_->setVerticalScrollBarShown(scrollBar);
}

void MainWindow::showCell(int column, int row, const std::string& text) {
  loopTable_->setCell(column, row, text);
}

void MainWindow::showMark(int row, bool marked) {
  loopTable_->setMark(row, marked);
}

void MainWindow::showMoved(int row, bool moved) {
  loopTable_->setMoved(row, moved);
}

void MainWindow::showLoopMenu(int row, POINT screenPoint) {
  constexpr UINT HistoryItem = 1;
  HMENU menu = CreatePopupMenu();
  const UINT state = model_->historyKey(row) ? MF_ENABLED : MF_GRAYED;
  AppendMenuW(menu, MF_STRING | state, HistoryItem, widen("История шлейфа...").c_str());
  const UINT chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, screenPoint.x,
                                     screenPoint.y, 0, window_, nullptr);
  DestroyMenu(menu);
  if (chosen == HistoryItem) forward([row](MainWindowModel& m) { m.historyClicked(row); });
}

void MainWindow::showHistory(LoopKey key) {
  std::unique_ptr<HistoryWindow>& history = historyWindows_[key];
  if (!history) history = std::make_unique<HistoryWindow>(model_->history(), key);
  history->show(window_);
}

void MainWindow::startTimer(int delayMs) {
  SetTimer(window_, TickTimerId, static_cast<UINT>(std::max(delayMs, 1)), nullptr);
}

void MainWindow::stopTimer() {
  KillTimer(window_, TickTimerId);
}

void MainWindow::showMessage(const std::string& text) {
  showMessageBox(window_, text, applicationTitle(), 0);
}

uint8_t MainWindow::runSearchDialog() {
  return searchDialog_->run(window_);
}

void MainWindow::showPasswordDialog() {
  if (toolsAction_) toolsAction_(window_);
}

}  // namespace loopmon::win32
