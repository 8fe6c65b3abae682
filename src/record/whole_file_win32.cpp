#include "platform/text_win32.h"
#include "record/site_record.h"

namespace loopmon {

// The content goes to a fresh file beside the target, which then takes the
// target's place in one move, so a reader never meets half a record.
void SaveWholeFile(const std::string& path, const std::string& content) {
  const std::wstring target = win32::widen(path);
  DWORD error = ERROR_SUCCESS;
  const DWORD attributes = GetFileAttributesW(target.c_str());
  // Moving over a read-only file is refused by Windows, not by every
  // emulation of it: refused here for all.
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    error = ERROR_ACCESS_DENIED;
  }
  const std::wstring temporary = target + L".partial";
  if (error == ERROR_SUCCESS) {
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      error = GetLastError();
    } else {
      DWORD written = 0;
      if (!WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) ||
          written != content.size() || !FlushFileBuffers(file)) {
        error = GetLastError();
      }
      CloseHandle(file);
      if (error == ERROR_SUCCESS &&
          !MoveFileExW(temporary.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
      }
      if (error != ERROR_SUCCESS) DeleteFileW(temporary.c_str());
    }
  }
  if (error != ERROR_SUCCESS) {
    throw RecordError(path + ": cannot be written (" + win32::systemMessage(error) + ")");
  }
}

}  // namespace loopmon
