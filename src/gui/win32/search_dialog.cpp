#include "gui/win32/search_dialog.h"

#include <commctrl.h>

#include <algorithm>

#include "gui/win32/message_box.h"

namespace loopmon::win32 {

namespace {

using namespace search_form;

constexpr UINT_PTR ScanTimerId = 1;
constexpr UINT ScanIntervalMs = 10;
// Beside the longest port's text in the closed selector: its borders and
// inner margins, at 96 DPI (the arrow button is the system's scroll bar width).
constexpr int SelectorMargins = 10;

}  // namespace

SearchDialog::SearchDialog(HWND owner, BusRunner* bus, std::string portSettingsPath,
                           SearchDialogModel::PortChoices portChoices)
    : FormWindow(search_form::Form) {
  create(owner);
  SetWindowSubclass(control(DeviceList), &deviceListProc, 0, reinterpret_cast<DWORD_PTR>(this));
  model_ = std::make_unique<SearchDialogModel>(static_cast<SearchDialogView&>(*this), bus,
                                               std::move(portSettingsPath), std::move(portChoices));
}

template <class Input>
void SearchDialog::forward(Input input) {
  runHandler(hwnd(), [&] { input(*model_); });
}

uint8_t SearchDialog::run(HWND owner) {
  forward([](SearchDialogModel& m) { m.aboutToShow(); });
  runModal(owner);
  forward([](SearchDialogModel& m) { m.closed(); });
  return model_->SelectedAddress();
}

void SearchDialog::onLaidOut() {
  fitPortSelector();
}

void SearchDialog::fitPortSelector() {
  // The closed selector shows its longest port whole ("COM7 — USB Serial
  // Port"): the dialog grows by what it lacks.
  HWND selector = control(PortSelector);
  HDC dc = GetDC(selector);
  HGDIOBJ old = SelectObject(dc, fontOf(Form.control(PortSelector)));
  int widest = 0;
  const auto count = static_cast<int>(SendMessageW(selector, CB_GETCOUNT, 0, 0));
  for (int item = 0; item < count; ++item) {
    std::wstring text(static_cast<size_t>(SendMessageW(selector, CB_GETLBTEXTLEN, item, 0)) + 1,
                      L'\0');
    SendMessageW(selector, CB_GETLBTEXT, item, reinterpret_cast<LPARAM>(text.data()));
    SIZE extent{};
    GetTextExtentPoint32W(dc, text.c_str(), lstrlenW(text.c_str()), &extent);
    widest = std::max(widest, static_cast<int>(extent.cx));
  }
  SelectObject(dc, old);
  ReleaseDC(selector, dc);
  const int dpi = static_cast<int>(this->dpi());
  const int needed = widest + GetSystemMetrics(SM_CXVSCROLL) + scaled(SelectorMargins, dpi);
  const int designed = placeControl(Form.control(PortSelector), dpi).width;
  setExtraSize({std::max(0, needed - designed), 0});
}

LRESULT CALLBACK SearchDialog::deviceListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam,
                                              UINT_PTR, DWORD_PTR self) {
  auto* dialog = reinterpret_cast<SearchDialog*>(self);
  switch (message) {
    case WM_GETDLGCODE: {
      const auto* msg = reinterpret_cast<const MSG*>(lParam);
      if (msg && msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN) {
        return DefSubclassProc(list, message, wParam, lParam) | DLGC_WANTMESSAGE;
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
    case WM_PAINT:
      if (!dialog->note_.empty() && SendMessageW(list, LB_GETCOUNT, 0, 0) == 0) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(list, &paint);
        RECT area{};
        GetClientRect(list, &area);
        FillRect(dc, &area, GetSysColorBrush(COLOR_WINDOW));
        HGDIOBJ old =
            SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)));
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
        const std::wstring note = widen(dialog->note_);
        DrawTextW(dc, note.c_str(), static_cast<int>(note.size()), &area,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(dc, old);
        EndPaint(list, &paint);
        return 0;
      }
      break;
    default:
      break;
  }
  return DefSubclassProc(list, message, wParam, lParam);
}

void SearchDialog::onCommand(int id, int code) {
  if (id == DeviceList && code == LBN_DBLCLK) {
    forward([](SearchDialogModel& m) { m.chooseDevice(); });
  }
  if (code != BN_CLICKED) return;
  if (id == SearchButton) forward([](SearchDialogModel& m) { m.searchClicked(); });
  if (id == ChooseButton) forward([](SearchDialogModel& m) { m.chooseDevice(); });
  if (id == CancelButton) forward([](SearchDialogModel& m) { m.cancelClicked(); });
  if (id == QuickOption) {
    const bool checked = SendMessageW(control(QuickOption), BM_GETCHECK, 0, 0) == BST_CHECKED;
    forward([checked](SearchDialogModel& m) { m.quickToggled(checked); });
  }
}

void SearchDialog::onTimer(UINT_PTR id) {
  if (id == ScanTimerId) forward([](SearchDialogModel& m) { m.scanTimerFired(); });
}

void SearchDialog::onCancel() {
  // Esc wherever the focus is, and the close box.
  forward([](SearchDialogModel& m) { m.cancelClicked(); });
}

std::string SearchDialog::listRow(int id, int row) const {
  if (!model_) return {};
  const auto& devices = model_->devices();
  if (id != DeviceList || row < 0 || static_cast<size_t>(row) >= devices.size()) return {};
  return devices[static_cast<size_t>(row)].line;
}

void SearchDialog::clearDevices() {
  SendMessageW(control(DeviceList), LB_RESETCONTENT, 0, 0);
}

void SearchDialog::appendDevice(const FoundDevice&) {
  // A row without data: listRow draws it from the model's device.
  SendMessageW(control(DeviceList), LB_ADDSTRING, 0, 0);
}

void SearchDialog::focusDeviceList() {
  focus(DeviceList);
}

void SearchDialog::focusSearchButton() {
  focus(SearchButton);
}

void SearchDialog::setChooseEnabled(bool enabled) {
  EnableWindow(control(ChooseButton), enabled);
}

std::string SearchDialog::title() const {
  return windowText(hwnd());
}

void SearchDialog::setTitle(const std::string& title) {
  setWindowText(hwnd(), title);
}

void SearchDialog::setProgress(int position) {
  SendMessageW(control(ProgressBar), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

std::string SearchDialog::portText() const {
  return windowText(control(PortSelector));
}

void SearchDialog::setPortEnabled(bool enabled) {
  EnableWindow(control(PortSelector), enabled);
}

void SearchDialog::setSearchCaption(const std::string& caption) {
  setWindowText(control(SearchButton), caption);
}

void SearchDialog::setScanTimerEnabled(bool enabled) {
  if (enabled) {
    SetTimer(hwnd(), ScanTimerId, ScanIntervalMs, nullptr);
  } else {
    KillTimer(hwnd(), ScanTimerId);
  }
}

void SearchDialog::showError(const std::string& text, const std::string& caption) {
  showMessageBox(hwnd(), text, caption, MB_ICONERROR);
}

void SearchDialog::showListNote(const std::string& note) {
  note_ = note;
  InvalidateRect(control(DeviceList), nullptr, TRUE);
}

void SearchDialog::setPortItems(const std::vector<std::string>& texts) {
  HWND selector = control(PortSelector);
  SendMessageW(selector, CB_RESETCONTENT, 0, 0);
  for (const std::string& text : texts) {
    SendMessageW(selector, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(text).c_str()));
  }
  fitPortSelector();
}

int SearchDialog::portIndex() const {
  return static_cast<int>(SendMessageW(control(PortSelector), CB_GETCURSEL, 0, 0));
}

void SearchDialog::setPortIndex(int index) {
  SendMessageW(control(PortSelector), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int SearchDialog::selectedLine() const {
  return static_cast<int>(SendMessageW(control(DeviceList), LB_GETCURSEL, 0, 0));
}

void SearchDialog::selectLine(int line) {
  SendMessageW(control(DeviceList), LB_SETCURSEL, static_cast<WPARAM>(line), 0);
}

void SearchDialog::closeDialog() {
  KillTimer(hwnd(), ScanTimerId);
  endModal();
}

void SearchDialog::setQuickChecked(bool checked) {
  SendMessageW(control(QuickOption), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

}  // namespace loopmon::win32
