#pragma once
// Every message box of the program goes through showMessageBox, so a test can
// take the boxes instead of the screen (setMessageBoxHook).

#include <exception>
#include <functional>
#include <string>

#include "platform/text_win32.h"

namespace loopmon::win32 {

// "Шлейфы MIVRA-QX": captions the information boxes of the reading cycle and
// the boxes of the general error handler.
std::string applicationTitle();

// A modal box with one OK button; `icon` is MB_ICONINFORMATION, MB_ICONERROR, ...
void showMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT icon);

using MessageBoxHook =
    std::function<void(const std::string& text, const std::string& caption, UINT icon)>;
// While a hook is set it receives every box instead of the screen; an empty
// hook brings the real boxes back. Returns the hook it replaced.
MessageBoxHook setMessageBoxHook(MessageBoxHook hook);

// The application's general error handler: a failed conversion or computation
// shows its message and the rest of the handler does not run.
void showError(HWND owner, const std::exception& error);

template <class Body>
void runHandler(HWND owner, Body&& body) {
  try {
    body();
  } catch (const std::exception& error) {
    showError(owner, error);
  }
}

}  // namespace loopmon::win32
