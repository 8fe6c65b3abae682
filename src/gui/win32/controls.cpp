#include "gui/win32/controls.h"

#include "gui/win32/dpi.h"

namespace loopmon::win32 {

std::string windowText(HWND window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  const int length = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  return narrow(text.data(), static_cast<size_t>(length));
}

void setWindowText(HWND window, const std::string& text) {
  SetWindowTextW(window, widen(text).c_str());
}

HWND createControl(HWND parent, const wchar_t* windowClass, const std::string& text, DWORD style,
                   int id, DWORD exStyle) {
  return CreateWindowExW(exStyle, windowClass, widen(text).c_str(), WS_CHILD | WS_VISIBLE | style,
                         0, 0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                         GetModuleHandleW(nullptr), nullptr);
}

void DesignedLayout::add(HWND control, int left, int top, int width, int height) {
  placed_.push_back({control, RECT{left, top, left + width, top + height}});
}

void DesignedLayout::apply(UINT dpi, HFONT font) const {
  for (const Placed& p : placed_) {
    SendMessageW(p.control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    const int left = scaled(p.at96.left, dpi);
    const int top = scaled(p.at96.top, dpi);
    SetWindowPos(p.control, nullptr, left, top, scaled(p.at96.right, dpi) - left,
                 scaled(p.at96.bottom, dpi) - top, SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(p.control, nullptr, TRUE);
  }
}

void setClientSize(HWND window, int clientWidth, int clientHeight, UINT dpi) {
  const int width = scaled(clientWidth, dpi);
  const int height = scaled(clientHeight, dpi);
  RECT rect{0, 0, width, height};
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
  const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
  using AdjustForDpi = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const auto adjustForDpi =
      procAddress<AdjustForDpi>(L"user32.dll", "AdjustWindowRectExForDpi");
  if (adjustForDpi) {
    adjustForDpi(&rect, style, FALSE, exStyle, dpi);
  } else {
    AdjustWindowRectEx(&rect, style, FALSE, exStyle);
  }
  const UINT flags = SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE;
  SetWindowPos(window, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top, flags);
  // A frame that does not follow the DPI (a process the system scales, or
  // an older system) is measured and made up for.
  RECT client{};
  GetClientRect(window, &client);
  if (client.right != width || client.bottom != height) {
    RECT outer{};
    GetWindowRect(window, &outer);
    SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left + width - client.right,
                 outer.bottom - outer.top + height - client.bottom, flags);
  }
}

void centreOnMonitor(HWND window, HWND anchor) {
  HMONITOR monitor = MonitorFromWindow(anchor ? anchor : window, MONITOR_DEFAULTTOPRIMARY);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  GetMonitorInfoW(monitor, &info);
  RECT outer{};
  GetWindowRect(window, &outer);
  const RECT& area = info.rcWork;
  const int width = outer.right - outer.left;
  const int height = outer.bottom - outer.top;
  SetWindowPos(window, nullptr, area.left + (area.right - area.left - width) / 2,
               area.top + (area.bottom - area.top - height) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

SIZE textExtent(HWND label, HFONT font) {
  SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  const std::wstring text = widen(windowText(label));
  HDC dc = GetDC(label);
  HGDIOBJ old = SelectObject(dc, font);
  SIZE extent{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  SelectObject(dc, old);
  ReleaseDC(label, dc);
  return extent;
}

void registerWindowClass(const wchar_t* name, const WindowClassLook& look) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  if (GetClassInfoExW(instance, name, &windowClass)) return;
  windowClass.style = look.style;
  windowClass.lpfnWndProc = look.procedure;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.hbrBackground = look.background;
  if (look.iconId != 0)
    windowClass.hIcon = loadProgramIcon(look.iconId, GetSystemMetrics(SM_CXICON));
  windowClass.lpszClassName = name;
  RegisterClassExW(&windowClass);
}

HICON loadProgramIcon(int id, int size) {
  return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON,
                                       size, size, LR_DEFAULTCOLOR));
}

}  // namespace loopmon::win32
