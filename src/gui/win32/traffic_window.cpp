#include "gui/win32/traffic_window.h"

#include <algorithm>

#include "desktop/texts.h"
#include "gui/win32/message_box.h"

namespace loopmon::win32 {

namespace {

using namespace traffic_form;

constexpr UINT_PTR RefreshTimerId = 1;

void addLines(HWND list, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(line).c_str()));
  }
}

// Lines longer than the list are scrolled to sideways, as far as the widest.
void widenTo(HWND list, const std::vector<std::string>& lines, int& widest) {
  HDC dc = GetDC(list);
  const HGDIOBJ old =
      SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(list, WM_GETFONT, 0, 0)));
  for (const std::string& line : lines) {
    const std::wstring text = widen(line);
    SIZE size{};
    if (GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size))
      widest = std::max(widest, static_cast<int>(size.cx));
  }
  SelectObject(dc, old);
  ReleaseDC(list, dc);
  // A few pixels past the text, so its last character is not cut.
  SendMessageW(list, LB_SETHORIZONTALEXTENT, widest > 0 ? widest + 8 : 0, 0);
}

}  // namespace

TrafficWindow::TrafficWindow(HWND owner, BusTrace& trace)
    : FormWindow(traffic_form::Form), owner_(owner), model_(*this, trace) {
  create(owner);
}

void TrafficWindow::open() {
  model_.opened();
  SetTimer(hwnd(), RefreshTimerId, TrafficWindowModel::RefreshMs, nullptr);
  showBeside(owner_);
}

void TrafficWindow::onTimer(UINT_PTR id) {
  if (id == RefreshTimerId) model_.refresh();
}

void TrafficWindow::onClose() {
  KillTimer(hwnd(), RefreshTimerId);
  model_.closed();
  ShowWindow(hwnd(), SW_HIDE);
}

void TrafficWindow::onCommand(int id, int code) {
  if (id == FilterField && code == EN_CHANGE) {
    model_.filterChanged(windowText(control(FilterField)));
  } else if (code == BN_CLICKED) {
    if (id == PauseButton) model_.pauseClicked();
    if (id == ClearButton) model_.clearClicked();
    if (id == SaveButton) runHandler(hwnd(), [this] { model_.saveClicked(); });
    if (id == SaveCaptureButton) runHandler(hwnd(), [this] { model_.saveCaptureClicked(); });
  }
}

void TrafficWindow::scrollToEnd() {
  HWND list = control(TraceList);
  const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
  if (count > 0) SendMessageW(list, LB_SETTOPINDEX, count - 1, 0);
}

void TrafficWindow::onLaidOut() {
  if (following_) scrollToEnd();
}

void TrafficWindow::showLinesMoved(int removedFirst, const std::vector<std::string>& added) {
  HWND list = control(TraceList);
  // Scrolled up, the user reads: the list stays where it is.
  SCROLLINFO bar{};
  bar.cbSize = sizeof bar;
  bar.fMask = SIF_ALL;
  following_ =
      !GetScrollInfo(list, SB_VERT, &bar) || bar.nPos + static_cast<int>(bar.nPage) > bar.nMax;
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  for (int i = 0; i < removedFirst; ++i) SendMessageW(list, LB_DELETESTRING, 0, 0);
  addLines(list, added);
  widenTo(list, added, widestLine_);
  if (following_) scrollToEnd();
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
}

void TrafficWindow::showLines(const std::vector<std::string>& lines) {
  SendMessageW(control(TraceList), LB_RESETCONTENT, 0, 0);
  widestLine_ = 0;
  showLinesMoved(0, lines);
}

void TrafficWindow::showCounters(const std::vector<std::string>& lines) {
  HWND list = control(CountersList);
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  SendMessageW(list, LB_RESETCONTENT, 0, 0);
  addLines(list, lines);
  int widest = 0;
  widenTo(list, lines, widest);
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
}

void TrafficWindow::showPauseButton(const std::string& text) {
  setWindowText(control(PauseButton), text);
}

std::optional<std::string> TrafficWindow::askSavePath(const std::string& suggested) {
  return askSaveFile(hwnd(), texts::SaveTrafficTitle, suggested, texts::TextFiles, L"*.txt",
                     L"txt");
}

std::optional<std::string> TrafficWindow::askCapturePath(const std::string& suggested) {
  return askSaveFile(hwnd(), texts::SaveCaptureTitle, suggested, texts::CaptureFiles, L"*.pcapng",
                     L"pcapng");
}

void TrafficWindow::showMessage(const std::string& text) {
  showMessageBox(hwnd(), text, texts::ApplicationTitle, MB_ICONERROR);
}

}  // namespace loopmon::win32
