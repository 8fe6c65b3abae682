#include "gui/win32/dialog_layout.h"

#include <cstring>

#include "gui/win32/dpi.h"

namespace loopmon::win32 {

namespace {

struct ModelessDialogs {
  std::vector<HWND> dialogs;
  HHOOK hook = nullptr;
};

ModelessDialogs& modelessDialogs() {
  thread_local ModelessDialogs registered;
  return registered;
}

LRESULT CALLBACK dialogKeysHook(int code, WPARAM removal, LPARAM lParam) {
  auto* message = reinterpret_cast<MSG*>(lParam);
  if (code == HC_ACTION && removal == PM_REMOVE && message->message >= WM_KEYFIRST &&
      message->message <= WM_KEYLAST) {
    for (HWND dialog : modelessDialogs().dialogs) {
      if ((message->hwnd == dialog || IsChild(dialog, message->hwnd)) &&
          IsDialogMessageW(dialog, message)) {
        // Handled: the loop that took it dispatches nothing.
        message->message = WM_NULL;
        break;
      }
    }
  }
  return CallNextHookEx(nullptr, code, removal, lParam);
}

}  // namespace

void addModelessDialog(HWND dialog) {
  ModelessDialogs& registered = modelessDialogs();
  if (!registered.hook) {
    registered.hook =
        SetWindowsHookExW(WH_GETMESSAGE, dialogKeysHook, nullptr, GetCurrentThreadId());
  }
  registered.dialogs.push_back(dialog);
}

void removeModelessDialog(HWND dialog) {
  ModelessDialogs& registered = modelessDialogs();
  std::erase(registered.dialogs, dialog);
  if (registered.dialogs.empty() && registered.hook) {
    UnhookWindowsHookEx(registered.hook);
    registered.hook = nullptr;
  }
}

std::vector<WORD> emptyDialogTemplate(DWORD style, DWORD exStyle, const wchar_t* caption) {
  DLGTEMPLATE head{};
  head.style = style;
  head.dwExtendedStyle = exStyle;
  // The size and place are set once the DPI of the dialog is known.
  std::vector<WORD> words(sizeof head / sizeof(WORD));
  std::memcpy(words.data(), &head, sizeof head);
  words.push_back(0);  // no menu
  words.push_back(0);  // the standard dialog class
  for (const wchar_t* c = caption; *c; ++c) words.push_back(static_cast<WORD>(*c));
  words.push_back(0);
  return words;
}

SIZE windowSizeForClient(DWORD style, DWORD exStyle, int width, int height, UINT dpi) {
  using AdjustForDpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static const auto adjustForDpi =
      procAddress<AdjustForDpi>(L"user32.dll", "AdjustWindowRectExForDpi");
  RECT rect{0, 0, scaled(width, dpi), scaled(height, dpi)};
  if (!adjustForDpi || !adjustForDpi(&rect, style, FALSE, exStyle, dpi)) {
    AdjustWindowRectEx(&rect, style, FALSE, exStyle);
  }
  return {rect.right - rect.left, rect.bottom - rect.top};
}

DialogLayout::DialogLayout(HWND dialog) : dialog_(dialog), dpi_(windowDpi(dialog)) {}

DialogLayout::~DialogLayout() {
  for (const CachedFont& cached : fonts_) DeleteObject(cached.handle);
}

int DialogLayout::scaled(int pixelsAt96) const {
  return win32::scaled(pixelsAt96, dpi_);
}

HFONT DialogLayout::font(Font font) {
  for (const CachedFont& cached : fonts_) {
    if (cached.font.pixelHeight == font.pixelHeight && cached.font.bold == font.bold) {
      return cached.handle;
    }
  }
  HFONT handle = createDesignedFont(DialogFace, font.pixelHeight, font.bold, dpi_, RUSSIAN_CHARSET);
  fonts_.push_back({font, handle});
  return handle;
}

HWND DialogLayout::add(const wchar_t* className, const wchar_t* text, DWORD style, int id,
                       Box designed, Font font, DWORD exStyle) {
  HWND control = CreateWindowExW(
      exStyle, className, text, WS_CHILD | WS_VISIBLE | style, scaled(designed.left),
      scaled(designed.top), scaled(designed.width), scaled(designed.height), dialog_,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(this->font(font)), FALSE);
  controls_.push_back({control, designed, font});
  return control;
}

void DialogLayout::sizeCentred(int clientWidth, int clientHeight) {
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(dialog_, GWL_STYLE));
  const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(dialog_, GWL_EXSTYLE));
  const SIZE size = windowSizeForClient(style, exStyle, clientWidth, clientHeight, dpi_);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(dialog_, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT& work = monitor.rcWork;
  SetWindowPos(dialog_, nullptr, work.left + (work.right - work.left - size.cx) / 2,
               work.top + (work.bottom - work.top - size.cy) / 2, size.cx, size.cy,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

void DialogLayout::apply(UINT dpi) {
  if (dpi == dpi_) return;
  const std::vector<CachedFont> old = std::move(fonts_);
  fonts_.clear();
  dpi_ = dpi;
  for (const Control& control : controls_) {
    SetWindowPos(control.window, nullptr, scaled(control.designed.left),
                 scaled(control.designed.top), scaled(control.designed.width),
                 scaled(control.designed.height), SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(control.window, WM_SETFONT, reinterpret_cast<WPARAM>(font(control.font)), TRUE);
  }
  for (const CachedFont& cached : old) DeleteObject(cached.handle);
  InvalidateRect(dialog_, nullptr, TRUE);
}

}  // namespace loopmon::win32
