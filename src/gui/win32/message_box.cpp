#include "gui/win32/message_box.h"

#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>
#include <utility>

#include "desktop/file_folders.h"
#include "desktop/texts.h"
#include "gui/win32/window.h"

namespace loopmon::win32 {

namespace {
MessageBoxHook& currentHook() {
  static MessageBoxHook hook;
  return hook;
}
SavePathHook& currentSavePathHook() {
  static SavePathHook hook;
  return hook;
}
OpenPathHook& currentOpenPathHook() {
  static OpenPathHook hook;
  return hook;
}
FolderPathHook& currentFolderPathHook() {
  static FolderPathHook hook;
  return hook;
}
FileFolders*& currentFolders() {
  static FileFolders* folders = nullptr;
  return folders;
}

// The common file dialog: a file to save, offering `suggested`, or an
// existing one to open.
std::optional<std::string> askFile(HWND owner, const char* title, const std::string& suggested,
                                   const char* filter, const wchar_t* pattern,
                                   const wchar_t* extension, bool save) {
  FileFolders* folders = currentFolders();
  const std::string kind = narrow(extension, wcslen(extension));
  std::wstring path(32768, L'\0');
  const std::wstring name = widen(folders && save ? folders->suggest(suggested) : suggested);
  std::copy(name.begin(), name.end(), path.begin());
  // An open dialog offers no name; it starts in the folder itself.
  const std::wstring folder = widen(folders && !save ? folders->folderFor(kind) : std::string());
  // "text\0pattern\0" pairs ending in an empty one.
  const std::wstring filters = widen(filter) + L'\0' + pattern + L'\0' + widen(texts::AllFiles) +
                               L'\0' + L"*.*" + L'\0' + L'\0';
  const std::wstring caption = widen(title);
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filters.c_str();
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = static_cast<DWORD>(path.size());
  dialog.lpstrTitle = caption.c_str();
  dialog.lpstrDefExt = save ? extension : nullptr;
  if (!folder.empty()) dialog.lpstrInitialDir = folder.c_str();
  dialog.Flags = OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY |
                 (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
  if (!(save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog))) return std::nullopt;
  const std::string chosen = narrow(path.c_str(), wcslen(path.c_str()));
  if (folders) folders->remember(chosen);
  return chosen;
}
}  // namespace

void setFileFolders(FileFolders* folders) {
  currentFolders() = folders;
}

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

SavePathHook setSavePathHook(SavePathHook hook) {
  return std::exchange(currentSavePathHook(), std::move(hook));
}

OpenPathHook setOpenPathHook(OpenPathHook hook) {
  return std::exchange(currentOpenPathHook(), std::move(hook));
}

std::optional<std::string> askSaveFile(HWND owner, const char* title, const std::string& suggested,
                                       const char* filter, const wchar_t* pattern,
                                       const wchar_t* extension) {
  if (const SavePathHook& hook = currentSavePathHook()) return hook(suggested);
  return askFile(owner, title, suggested, filter, pattern, extension, true);
}

std::optional<std::string> askOpenFile(HWND owner, const char* title, const char* filter,
                                       const wchar_t* pattern, const wchar_t* extension) {
  if (const OpenPathHook& hook = currentOpenPathHook()) return hook();
  return askFile(owner, title, {}, filter, pattern, extension, false);
}

FolderPathHook setFolderPathHook(FolderPathHook hook) {
  return std::exchange(currentFolderPathHook(), std::move(hook));
}

std::optional<std::string> askFolderPath(HWND owner, const char* title) {
  if (const FolderPathHook& hook = currentFolderPathHook()) return hook();
  const std::wstring caption = widen(title);
  BROWSEINFOW browse{};
  browse.hwndOwner = owner;
  browse.lpszTitle = caption.c_str();
  browse.ulFlags = BIF_RETURNONLYFSDIRS;
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&browse);
  if (chosen == nullptr) return std::nullopt;
  std::wstring path(32768, L'\0');
  const bool named = SHGetPathFromIDListEx(chosen, path.data(), static_cast<DWORD>(path.size()), 0);
  CoTaskMemFree(chosen);
  if (!named) return std::nullopt;
  return narrow(path.c_str(), wcslen(path.c_str()));
}

void showError(HWND owner, const std::exception& error) {
  showMessageBox(owner, texts::ErrorText(error), texts::ApplicationTitle, MB_ICONERROR);
}

}  // namespace loopmon::win32
