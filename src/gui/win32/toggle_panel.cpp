#include "gui/win32/toggle_panel.h"

#include <windowsx.h>

namespace loopmon::win32 {

TogglePanel::TogglePanel(HWND parent, int id, DWORD style) {
  createWindow({L"Loopmon.TogglePanel"}, WS_CHILD | WS_VISIBLE | style, 0, "", parent, id);
}

void TogglePanel::setLowered(bool lowered) {
  if (lowered_ == lowered) return;
  lowered_ = lowered;
  InvalidateRect(hwnd(), nullptr, FALSE);
}

void TogglePanel::paint(HDC dc, const RECT& client) {
  RECT rect = client;
  FillRect(dc, &rect, GetSysColorBrush(COLOR_BTNFACE));
  DrawEdge(dc, &rect, lowered_ ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT);
  const std::wstring caption = widen(windowText(hwnd()));
  HGDIOBJ old = font() ? SelectObject(dc, font()) : nullptr;
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(IsWindowEnabled(hwnd()) ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
  DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &rect,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  if (old) SelectObject(dc, old);
}

LRESULT TogglePanel::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_LBUTTONDOWN:
      pressed_ = true;
      SetCapture(hwnd());
      return 0;
    case WM_LBUTTONUP: {
      if (!pressed_) return 0;
      pressed_ = false;
      ReleaseCapture();
      RECT rect{};
      GetClientRect(hwnd(), &rect);
      const POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      if (PtInRect(&rect, point)) {
        const auto id = static_cast<WORD>(GetDlgCtrlID(hwnd()));
        SendMessageW(GetParent(hwnd()), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(hwnd()));
      }
      return 0;
    }
    case WM_CAPTURECHANGED:
      pressed_ = false;
      return 0;
    default:
      return DrawnControl::handle(message, wParam, lParam);
  }
}

}  // namespace loopmon::win32
