#include "gui/win32/search_dialog.h"

#include <commctrl.h>

#include <algorithm>

#include "gui/win32/controls.h"
#include "gui/win32/dpi.h"
#include "gui/win32/message_box.h"

namespace loopmon::win32 {

namespace {

constexpr wchar_t ClassName[] = L"LoopmonSearchDialog";
// The dialog was laid out for an outer size of 324 x 306 with a single fixed
// border; the client area is what is left inside that frame.
constexpr int ClientWidth = 318;
constexpr int ClientHeight = 279;
constexpr DWORD Style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD ExStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST | WS_EX_CONTROLPARENT;
constexpr UINT_PTR ScanTimerId = 1;
constexpr UINT ScanIntervalMs = 10;
constexpr int MaxAddress = 127;
// The port selector's list below its field, at 96 DPI.
constexpr int PortListHeight = 160;

}  // namespace

SearchDialog::SearchDialog(BusRunner* bus, std::string portSettingsPath,
                           SearchDialogModel::PortChoices portChoices) {
  registerWindowClass(ClassName, {.background = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1)});
  dialog_ = CreateWindowExW(ExStyle, ClassName, L"", Style, 0, 0, 0, 0, nullptr, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
  SetWindowLongPtrW(dialog_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(dialog_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&windowProc));
  setWindowText(dialog_, "Поиск приборов");
  createControls();
  dpi_ = windowDpi(dialog_);
  updateFonts();
  model_ = std::make_unique<SearchDialogModel>(static_cast<SearchDialogView&>(*this), bus,
                                               std::move(portSettingsPath), std::move(portChoices));
}

SearchDialog::~SearchDialog() {
  KillTimer(dialog_, ScanTimerId);
  SetWindowLongPtrW(dialog_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcW));
  DestroyWindow(dialog_);
  if (font_) DeleteObject(font_);
}

void SearchDialog::createControls() {
  // Created in tab order.
  const DWORD button = WS_TABSTOP | BS_PUSHBUTTON;
  createControl(dialog_, WC_BUTTONW, "Выбрать", button | WS_DISABLED, ChooseButtonId);
  createControl(dialog_, WC_BUTTONW, SearchButtonSearch, button, SearchButtonId);
  createControl(dialog_, WC_BUTTONW, "Отмена", button, CancelButtonId);
  createControl(dialog_, WC_STATICW, "Последовательный порт", SS_LEFT | SS_NOPREFIX, PortLabelId);
  HWND selector = createControl(dialog_, WC_COMBOBOXW, "",
                                WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, PortSelectorId);
  for (int port = 1; port <= PortCount; ++port) {
    SendMessageW(selector, CB_ADDSTRING, 0,
                 reinterpret_cast<LPARAM>(widen("COM" + std::to_string(port)).c_str()));
  }
  SendMessageW(selector, CB_SETCURSEL, 1, 0);
  HWND list = createControl(dialog_, WC_LISTBOXW, "",
                            WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
                            DeviceListId, WS_EX_CLIENTEDGE);
  SetWindowSubclass(list, &deviceListProc, 0, reinterpret_cast<DWORD_PTR>(this));
  HWND progress = createControl(dialog_, PROGRESS_CLASSW, "", 0, ProgressBarId);
  SendMessageW(progress, PBM_SETRANGE32, 0, MaxAddress);
  SendMessageW(progress, PBM_SETPOS, 0, 0);
}

void SearchDialog::updateFonts() {
  HFONT old = font_;
  font_ = createDesignedFont(L"Arial", 12, true, dpi_, RUSSIAN_CHARSET);
  layOut();
  if (old) DeleteObject(old);
}

void SearchDialog::layOut() {
  setClientSize(dialog_, ClientWidth, ClientHeight, dpi_);
  DesignedLayout layout;
  layout.add(control(ChooseButtonId), 23, 243, 90, 30);
  layout.add(control(SearchButtonId), 113, 243, 90, 30);
  layout.add(control(CancelButtonId), 203, 243, 90, 30);
  layout.add(control(PortSelectorId), 200, 6, 105, 21 + PortListHeight);
  layout.add(control(DeviceListId), 8, 40, 297, 169);
  layout.add(control(ProgressBarId), 9, 216, 297, 17);
  layout.apply(dpi_, font_);

  // The label sizes itself to its text, as the designed one did.
  HWND label = control(PortLabelId);
  const SIZE extent = textExtent(label, font_);
  SetWindowPos(label, nullptr, scaled(8, dpi_), scaled(8, dpi_), extent.cx, extent.cy,
               SWP_NOZORDER | SWP_NOACTIVATE);
  widenPortList();
}

void SearchDialog::widenPortList() {
  // The field keeps its designed width; the open list is as wide as its
  // longest item ("COM7 — USB Serial Port"), so the device behind a port shows.
  HWND selector = control(PortSelectorId);
  HDC dc = GetDC(selector);
  HGDIOBJ old = SelectObject(dc, font_);
  int widest = 0;
  const int count = static_cast<int>(SendMessageW(selector, CB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    std::wstring text(static_cast<size_t>(SendMessageW(selector, CB_GETLBTEXTLEN, i, 0)) + 1,
                      L'\0');
    SendMessageW(selector, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()));
    SIZE extent{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(lstrlenW(text.c_str())), &extent);
    widest = std::max(widest, static_cast<int>(extent.cx));
  }
  SelectObject(dc, old);
  ReleaseDC(selector, dc);
  const int margin = scaled(8, dpi_) + GetSystemMetrics(SM_CXVSCROLL);
  SendMessageW(selector, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(widest + margin), 0);
}

template <class Input>
void SearchDialog::forward(Input input) {
  runHandler(dialog_, [&] { input(*model_); });
}

uint8_t SearchDialog::run(HWND owner) {
  closing_ = false;
  running_ = true;
  SetWindowLongPtrW(dialog_, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
  centreOnMonitor(dialog_, owner);
  if (const UINT dpi = windowDpi(dialog_); dpi != dpi_) {
    dpi_ = dpi;
    updateFonts();
    centreOnMonitor(dialog_, owner);
  }
  forward([](SearchDialogModel& m) { m.aboutToShow(); });
  if (owner) EnableWindow(owner, FALSE);
  ShowWindow(dialog_, SW_SHOW);
  SetForegroundWindow(dialog_);
  if (GetFocus() != control(DeviceListId)) SetFocus(control(SearchButtonId));

  MSG message;
  while (!closing_) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got <= 0) {
      // The program is ending: the quit goes on to the main loop.
      if (got == 0) PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    if (!IsDialogMessageW(dialog_, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }

  if (owner) EnableWindow(owner, TRUE);
  ShowWindow(dialog_, SW_HIDE);
  if (owner) SetActiveWindow(owner);
  forward([](SearchDialogModel& m) { m.closed(); });
  running_ = false;
  return model_->SelectedAddress();
}

LRESULT CALLBACK SearchDialog::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<SearchDialog*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  return self->handle(message, wParam, lParam);
}

LRESULT CALLBACK SearchDialog::deviceListProc(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam, UINT_PTR, DWORD_PTR self) {
  auto* dialog = reinterpret_cast<SearchDialog*>(self);
  switch (message) {
    case WM_GETDLGCODE: {
      const auto* msg = reinterpret_cast<const MSG*>(lParam);
      if (msg && msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN) {
        return DefSubclassProc(window, message, wParam, lParam) | DLGC_WANTMESSAGE;
      }
      break;
    }
    case WM_KEYDOWN:
      if (wParam == VK_RETURN) {
        dialog->forward([](SearchDialogModel& m) { m.chooseDevice(); });
        return 0;
      }
      break;
    case WM_CHAR:
      // The Enter handled above would otherwise beep in the list.
      if (wParam == L'\r') return 0;
      break;
    default:
      break;
  }
  return DefSubclassProc(window, message, wParam, lParam);
}

LRESULT SearchDialog::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const int code = HIWORD(wParam);
      if (id == IDCANCEL) {
        // Esc, wherever the focus is.
        closeDialog();
      } else if (id == SearchButtonId && code == BN_CLICKED) {
        forward([](SearchDialogModel& m) { m.searchClicked(); });
      } else if (id == ChooseButtonId && code == BN_CLICKED) {
        forward([](SearchDialogModel& m) { m.chooseDevice(); });
      } else if (id == CancelButtonId && code == BN_CLICKED) {
        forward([](SearchDialogModel& m) { m.cancelClicked(); });
      } else if (id == DeviceListId && code == LBN_DBLCLK) {
        forward([](SearchDialogModel& m) { m.chooseDevice(); });
      }
      return 0;
    }
    case WM_TIMER:
      if (wParam == ScanTimerId) {
        forward([](SearchDialogModel& m) { m.scanTimerFired(); });
        return 0;
      }
      break;
    case WM_CLOSE:
      closeDialog();
      return 0;
    case WM_DPICHANGED: {
      dpi_ = HIWORD(wParam);
      updateFonts();
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(dialog_, nullptr, suggested->left, suggested->top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcW(dialog_, message, wParam, lParam);
}

void SearchDialog::clearDevices() {
  SendMessageW(control(DeviceListId), LB_RESETCONTENT, 0, 0);
}

void SearchDialog::appendDevice(const std::string& line) {
  SendMessageW(control(DeviceListId), LB_ADDSTRING, 0,
               reinterpret_cast<LPARAM>(widen(line).c_str()));
}

int SearchDialog::deviceCount() const {
  return static_cast<int>(SendMessageW(control(DeviceListId), LB_GETCOUNT, 0, 0));
}

void SearchDialog::focusDeviceList() {
  SetFocus(control(DeviceListId));
}

void SearchDialog::focusSearchButton() {
  SetFocus(control(SearchButtonId));
}

void SearchDialog::setChooseEnabled(bool enabled) {
  EnableWindow(control(ChooseButtonId), enabled);
}

std::string SearchDialog::title() const {
  return windowText(dialog_);
}

void SearchDialog::setTitle(const std::string& title) {
  setWindowText(dialog_, title);
}

void SearchDialog::setProgress(int position) {
  SendMessageW(control(ProgressBarId), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

std::string SearchDialog::portText() const {
  return windowText(control(PortSelectorId));
}

void SearchDialog::setPortEnabled(bool enabled) {
  EnableWindow(control(PortSelectorId), enabled);
}

void SearchDialog::setSearchCaption(const std::string& caption) {
  setWindowText(control(SearchButtonId), caption);
}

void SearchDialog::setScanTimerEnabled(bool enabled) {
  if (enabled) {
    SetTimer(dialog_, ScanTimerId, ScanIntervalMs, nullptr);
  } else {
    KillTimer(dialog_, ScanTimerId);
  }
}

void SearchDialog::showError(const std::string& text, const std::string& caption) {
  showMessageBox(dialog_, text, caption, MB_ICONERROR);
}

void SearchDialog::setPortItems(const std::vector<std::string>& texts) {
  HWND selector = control(PortSelectorId);
  SendMessageW(selector, CB_RESETCONTENT, 0, 0);
  for (const std::string& text : texts) {
    SendMessageW(selector, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(text).c_str()));
  }
  widenPortList();
}

int SearchDialog::portIndex() const {
  return static_cast<int>(SendMessageW(control(PortSelectorId), CB_GETCURSEL, 0, 0));
}

void SearchDialog::setPortIndex(int index) {
  SendMessageW(control(PortSelectorId), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int SearchDialog::selectedLine() const {
  return static_cast<int>(SendMessageW(control(DeviceListId), LB_GETCURSEL, 0, 0));
}

void SearchDialog::selectLine(int line) {
  SendMessageW(control(DeviceListId), LB_SETCURSEL, static_cast<WPARAM>(line), 0);
}

std::string SearchDialog::deviceLine(int line) const {
  HWND list = control(DeviceListId);
  const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(line), 0);
  if (length == LB_ERR) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(line), reinterpret_cast<LPARAM>(text.data()));
  return narrow(text.data(), static_cast<size_t>(length));
}

void SearchDialog::closeDialog() {
  KillTimer(dialog_, ScanTimerId);
  closing_ = true;
}

}  // namespace loopmon::win32
