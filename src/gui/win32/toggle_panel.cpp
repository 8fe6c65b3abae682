#include "gui/win32/toggle_panel.h"

#include <windowsx.h>

#include "gui/win32/controls.h"

namespace loopmon::win32 {

namespace {

constexpr wchar_t ClassName[] = L"LoopmonTogglePanel";

}  // namespace

TogglePanel::TogglePanel(HWND parent, int id, const std::string& caption) {
  registerWindowClass(ClassName);
  window_ = createControl(parent, ClassName, caption, 0, id);
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&windowProc));
}

TogglePanel::~TogglePanel() {
  SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcW));
  DestroyWindow(window_);
}

void TogglePanel::setLowered(bool lowered) {
  if (lowered_ == lowered) return;
  lowered_ = lowered;
  InvalidateRect(window_, nullptr, TRUE);
}

void TogglePanel::paint(HDC dc) {
  RECT rect{};
  GetClientRect(window_, &rect);
  FillRect(dc, &rect, GetSysColorBrush(COLOR_BTNFACE));
  DrawEdge(dc, &rect, lowered_ ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT);
  const std::wstring caption = widen(windowText(window_));
  HGDIOBJ old = font_ ? SelectObject(dc, font_) : nullptr;
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &rect,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  if (old) SelectObject(dc, old);
}

LRESULT CALLBACK TogglePanel::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* panel = reinterpret_cast<TogglePanel*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (panel == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  return panel->handle(message, wParam, lParam);
}

LRESULT TogglePanel::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      paint(BeginPaint(window_, &ps));
      EndPaint(window_, &ps);
      return 0;
    }
    case WM_SETFONT:
      font_ = reinterpret_cast<HFONT>(wParam);
      if (LOWORD(lParam)) InvalidateRect(window_, nullptr, TRUE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(font_);
    case WM_LBUTTONDOWN:
      pressed_ = true;
      SetCapture(window_);
      return 0;
    case WM_LBUTTONUP: {
      if (!pressed_) return 0;
      pressed_ = false;
      ReleaseCapture();
      RECT rect{};
      GetClientRect(window_, &rect);
      const POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      if (PtInRect(&rect, point)) {
        const auto id = static_cast<WORD>(GetDlgCtrlID(window_));
        SendMessageW(GetParent(window_), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(window_));
      }
      return 0;
    }
    case WM_CAPTURECHANGED:
      pressed_ = false;
      return 0;
    default:
      return DefWindowProcW(window_, message, wParam, lParam);
  }
}

}  // namespace loopmon::win32
