#pragma once
// Every message box of the program goes through showMessageBox, so a test can
// take the boxes instead of the screen (setMessageBoxHook).

#include <exception>
#include <functional>
#include <optional>
#include <string>

#include "platform/system/windows_api_win32.h"

namespace loopmon {
class FileFolders;
}

namespace loopmon::win32 {

// A modal box with one OK button over `owner`; every other window of the
// program is disabled while it is up. `icon` is MB_ICONERROR, ... or 0.
void showMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT icon);

using MessageBoxHook =
    std::function<void(const std::string& text, const std::string& caption, UINT icon)>;
// While a hook is set it receives every box instead of the screen, with the
// other windows disabled as for the box; an empty hook brings the real boxes
// back. Returns the hook it replaced.
MessageBoxHook setMessageBoxHook(MessageBoxHook hook);

// Asks where to save a file, offering `suggested` as its name; nothing when
// the user cancels.
using SavePathHook = std::function<std::optional<std::string>(const std::string& suggested)>;
// While a hook is set it answers instead of the file dialog; an empty hook
// brings the dialog back. Returns the hook it replaced.
SavePathHook setSavePathHook(SavePathHook hook);

// The folders the file dialogs start in and remember (the main window's);
// none: they start where Windows likes.
void setFileFolders(FileFolders* folders);

// The save dialog over `owner`, offering `suggested` in the folder last used
// for files ending in `extension`, and files of `filter` (texts::CsvFiles
// with `pattern` L"*.csv") or any.
std::optional<std::string> askSaveFile(HWND owner, const char* title, const std::string& suggested,
                                       const char* filter, const wchar_t* pattern,
                                       const wchar_t* extension);

// Asks which existing file to open; nothing when the user cancels.
using OpenPathHook = std::function<std::optional<std::string>()>;
// While a hook is set it answers instead of the file dialog; an empty hook
// brings the dialog back. Returns the hook it replaced.
OpenPathHook setOpenPathHook(OpenPathHook hook);

// The open dialog over `owner`, for an existing file of `filter` or any, in
// the folder last used for files ending in `extension`.
std::optional<std::string> askOpenFile(HWND owner, const char* title, const char* filter,
                                       const wchar_t* pattern, const wchar_t* extension);

// Asks which folder to open; nothing when the user cancels.
using FolderPathHook = std::function<std::optional<std::string>()>;
// While a hook is set it answers instead of the folder dialog; an empty hook
// brings the dialog back. Returns the hook it replaced.
FolderPathHook setFolderPathHook(FolderPathHook hook);

// The shell's folder dialog over `owner`, for an existing folder of files.
std::optional<std::string> askFolderPath(HWND owner, const char* title);

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
