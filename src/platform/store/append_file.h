#pragma once
// A log written a line at a time: each line goes out whole in one write and
// is flushed to disk before the call returns, so a crash or a pulled plug
// leaves every line before the last complete. A last line cut short that way
// is cut off when the file is opened again, so the next line never lands on
// the end of a broken one.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/store/whole_file.h"

namespace loopmon {

class AppendFile {
 public:
  // Opens `path` for appending, creating it; anything but a regular file is
  // refused. Throws FileError naming the file and the reason.
  explicit AppendFile(const std::string& path);
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // Writes `line` and a line end, flushed. Throws FileError.
  void appendLine(std::string_view line);
  // The file's length in bytes.
  uint64_t size() const { return size_; }

 private:
  struct Handle;
  std::string path_;
  std::unique_ptr<Handle> handle_;
  uint64_t size_ = 0;
};

}  // namespace loopmon
