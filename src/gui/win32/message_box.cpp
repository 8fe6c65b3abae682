#include "gui/win32/message_box.h"

#include <utility>

#include "desktop/texts.h"
#include "gui/win32/window.h"

namespace loopmon::win32 {

namespace {
MessageBoxHook& currentHook() {
  static MessageBoxHook hook;
  return hook;
}
}  // namespace

void showMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT icon) {
  // The box disables its owner itself.
  const OtherWindowsDisabled others(owner);
  if (currentHook()) {
    currentHook()(text, caption, icon);
    return;
  }
  MessageBoxW(owner, widen(text).c_str(), widen(caption).c_str(), MB_OK | icon);
}

MessageBoxHook setMessageBoxHook(MessageBoxHook hook) {
  return std::exchange(currentHook(), std::move(hook));
}

void showError(HWND owner, const std::exception& error) {
  showMessageBox(owner, texts::ErrorText(error), texts::ApplicationTitle, MB_ICONERROR);
}

}  // namespace loopmon::win32
