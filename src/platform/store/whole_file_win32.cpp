// The new content is written to a file of its own beside the old one, made
// with CREATE_NEW under a random name (a file found there is never reused),
// flushed, and moved over the old file in one step.

// rand_s, the system's cryptographic random numbers through the C library.
#define _CRT_RAND_S
#include <stdlib.h>

#include <algorithm>
#include <utility>

#include "platform/store/whole_file.h"
#include "platform/system/windows_api_win32.h"

namespace loopmon {
namespace {

[[noreturn]] void fail(const std::string& path, DWORD code) {
  throw FileError(path, win32::systemMessage(code));
}

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() { close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  bool close() {
    if (!valid()) return true;
    return CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE)) != 0;
  }

 private:
  HANDLE handle_;
};

// A new file beside `target` under a name nobody can guess.
HANDLE createBeside(const std::wstring& target, std::wstring& name) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    unsigned int random[2] = {};
    if (rand_s(&random[0]) != 0 || rand_s(&random[1]) != 0) break;
    name = target + L"." + std::to_wstring(random[0]) + std::to_wstring(random[1]);
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  return INVALID_HANDLE_VALUE;
}

}  // namespace

std::optional<std::string> readWholeFile(const std::string& path) {
  Handle file(CreateFileW(win32::widen(path).c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return std::nullopt;
    fail(path, code);
  }
  std::string content;
  char chunk[8192];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr)) fail(path, GetLastError());
    if (got == 0) return content;
    content.append(chunk, got);
  }
}

void replaceWholeFile(const std::string& path, std::string_view content) {
  const std::wstring target = win32::widen(path);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    throw FileError(path, "not a regular file");
  }
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    throw FileError(path, "the file is read-only");
  }
  std::wstring temporary;
  Handle file(createBeside(target, temporary));
  if (!file.valid()) fail(path, GetLastError());
  const auto abandon = [&](DWORD code) {
    file.close();
    DeleteFileW(temporary.c_str());
    fail(path, code);
  };
  while (!content.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size(), 1 << 20));
    if (!WriteFile(file.get(), content.data(), chunk, &written, nullptr) || written == 0) {
      abandon(GetLastError());
    }
    content.remove_prefix(written);
  }
  if (!FlushFileBuffers(file.get()) || !file.close()) abandon(GetLastError());
  if (!MoveFileExW(temporary.c_str(), target.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    abandon(GetLastError());
  }
}

}  // namespace loopmon
