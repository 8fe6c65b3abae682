#include "platform/store/program_folder.h"
#include "platform/system/windows_api_win32.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace loopmon {

std::string programFolder() {
  std::vector<wchar_t> path(MAX_PATH);
  DWORD length = 0;
  // The result is cut off, without an error, when the buffer is too small.
  while ((length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()))) >=
         path.size()) {
    path.resize(path.size() * 2);
  }
  std::wstring folder(path.data(), length);
  folder.erase(folder.find_last_of(L"\\/") + 1);
  return win32::narrow(folder);
}

std::string userConfigFolder() {
  const wchar_t* appData = _wgetenv(L"APPDATA");
  if (appData == nullptr || appData[0] == L'\0') return runtimeFolder();
  return win32::narrow(std::wstring(appData) + L"\\loopmon\\");
}

std::string userDocumentsFolder() {
  PWSTR path = nullptr;
  std::string folder;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &path))) {
    folder = win32::narrow(std::wstring(path));
  }
  CoTaskMemFree(path);
  return folder;
}

bool folderWritable(const std::string& folder) {
  const std::wstring probe =
      win32::widen(folder) + L".loopmon-probe-" + std::to_wstring(GetCurrentProcessId());
  HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

std::string runtimeFolder() {
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  std::wstring folder = std::wstring(temp, length) + L"loopmon\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  return win32::narrow(folder);
}

}  // namespace loopmon
