// FILE_APPEND_DATA puts every write at the end; FlushFileBuffers makes the
// line survive a power cut, not only a crash.

#include "platform/store/append_file.h"
#include "platform/system/windows_api_win32.h"

namespace loopmon {

struct AppendFile::Handle {
  HANDLE file = INVALID_HANDLE_VALUE;
  ~Handle() {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
};

namespace {

[[noreturn]] void fail(const std::string& path) {
  throw FileError(path, win32::systemMessage(GetLastError()));
}

bool readAt(HANDLE file, int64_t offset, char* buffer, DWORD count, DWORD& got) {
  LARGE_INTEGER position;
  position.QuadPart = offset;
  return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) &&
         ReadFile(file, buffer, count, &got, nullptr);
}

// The length up to and with the last line end: what stays of a file whose
// last line was cut short.
int64_t completeLength(HANDLE file, int64_t size, const std::string& path) {
  char block[4096];
  int64_t end = size;
  while (end > 0) {
    const int64_t start = end > static_cast<int64_t>(sizeof block) ? end - sizeof block : 0;
    DWORD got = 0;
    if (!readAt(file, start, block, static_cast<DWORD>(end - start), got)) fail(path);
    for (DWORD i = got; i > 0; --i) {
      if (block[i - 1] == '\n') return start + i;
    }
    end = start;
  }
  return 0;
}

}  // namespace

AppendFile::AppendFile(const std::string& path) : path_(path), handle_(std::make_unique<Handle>()) {
  handle_->file =
      CreateFileW(win32::widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle_->file == INVALID_HANDLE_VALUE) fail(path);
  if (GetFileType(handle_->file) != FILE_TYPE_DISK) throw FileError(path, "not a regular file");
  LARGE_INTEGER length;
  if (!GetFileSizeEx(handle_->file, &length)) fail(path);
  int64_t size = length.QuadPart;
  if (size > 0) {
    char last = 0;
    DWORD got = 0;
    if (!readAt(handle_->file, size - 1, &last, 1, got) || got != 1) fail(path);
    if (last != '\n') size = completeLength(handle_->file, size, path);
  }
  LARGE_INTEGER end;
  end.QuadPart = size;
  if (!SetFilePointerEx(handle_->file, end, nullptr, FILE_BEGIN) || !SetEndOfFile(handle_->file)) {
    fail(path);
  }
  size_ = static_cast<uint64_t>(size);
}

AppendFile::~AppendFile() = default;

void AppendFile::appendLine(std::string_view line) {
  std::string whole(line);
  whole += '\n';
  LARGE_INTEGER end{};
  DWORD wrote = 0;
  if (!SetFilePointerEx(handle_->file, end, nullptr, FILE_END) ||
      !WriteFile(handle_->file, whole.data(), static_cast<DWORD>(whole.size()), &wrote, nullptr) ||
      wrote != whole.size() || !FlushFileBuffers(handle_->file)) {
    fail(path_);
  }
  size_ += whole.size();
}

}  // namespace loopmon
