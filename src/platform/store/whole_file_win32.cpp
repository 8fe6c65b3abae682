// The new content is written to a file of its own beside the old one, made
// with CREATE_NEW under a random name (a file found there is never reused),
// flushed, and moved over the old file in one step.

// rand_s, the system's cryptographic random numbers through the C library.
#define _CRT_RAND_S
#include <stdlib.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdint>
#include <utility>

#include "platform/store/whole_file.h"
#include "platform/system/windows_api_win32.h"

namespace loopmon {
namespace {

// The failures a user can mend are said in the same words on every
// platform; the rest in the system's own.
[[noreturn]] void fail(const std::string& path, DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      throw FileError(path, FileNotFound);
    case ERROR_ACCESS_DENIED: {
      // A folder cannot be opened as a file: Windows calls that a denied access.
      const DWORD attributes = GetFileAttributesW(win32::widen(path).c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        throw FileError(path, FileNotRegular);
      }
      throw FileError(path, FilePermissionDenied);
    }
    default:
      throw FileError(path, win32::systemMessage(code));
  }
}

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() { close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  void release() { handle_ = INVALID_HANDLE_VALUE; }
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

[[noreturn]] void tooLarge(const std::string& path, size_t limit) {
  throw FileError(path, "larger than " + std::to_string(limit / (1024 * 1024)) + " MB");
}

}  // namespace

std::optional<std::string> readWholeFile(const std::string& path, size_t limit) {
  Handle file(CreateFileW(win32::widen(path).c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return std::nullopt;
    fail(path, code);
  }
  // A pipe or a device would be waited on or read without end.
  if (GetFileType(file.get()) != FILE_TYPE_DISK) throw FileError(path, FileNotRegular);
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) fail(path, GetLastError());
  if (static_cast<unsigned long long>(size.QuadPart) > limit) tooLarge(path, limit);
  std::string content;
  char chunk[8192];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr)) fail(path, GetLastError());
    if (got == 0) return content;
    if (content.size() + got > limit) tooLarge(path, limit);
    content.append(chunk, got);
  }
}

std::FILE* openOwnFileForWriting(const std::string& path) {
  const std::wstring name = win32::widen(path);
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    throw FileError(path, FileNotRegular);
  }
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    throw FileError(path, "the file is read-only");
  }
  Handle file(CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) fail(path, GetLastError());
  if (GetFileType(file.get()) != FILE_TYPE_DISK) throw FileError(path, FileNotRegular);
  if (!SetEndOfFile(file.get())) fail(path, GetLastError());
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_WRONLY | _O_BINARY);
  if (fd < 0) throw FileError(path, "cannot be opened as a stream");
  file.release();
  std::FILE* stream = _fdopen(fd, "wb");
  if (stream == nullptr) {
    _close(fd);
    throw FileError(path, "cannot be opened as a stream");
  }
  return stream;
}

void replaceWholeFile(const std::string& path, std::string_view content) {
  const std::wstring target = win32::widen(path);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    throw FileError(path, FileNotRegular);
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
