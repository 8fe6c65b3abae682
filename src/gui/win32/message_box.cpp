#include "gui/win32/message_box.h"

#include <utility>

namespace loopmon::win32 {

namespace {
MessageBoxHook& currentHook() {
  static MessageBoxHook hook;
  return hook;
}
}  // namespace

std::string applicationTitle() {
  return "Шлейфы MIVRA-QX";
}

void showMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT icon) {
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
  showMessageBox(owner, error.what(), applicationTitle(), MB_ICONERROR);
}

}  // namespace loopmon::win32
