#pragma once
// File helpers shared by the POSIX implementations of the platform layer.

#include <sys/types.h>

#include <optional>
#include <string>

namespace loopmon::posix {

// An owned file descriptor, closed when destroyed.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release();
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Creates `path` and its missing parents with `mode` (before the umask);
// true when it is a directory afterwards.
bool makeDirectories(const std::string& path, mode_t mode);

// The folder part of a path, with its trailing '/' ("" for a bare name).
std::string folderOf(const std::string& path);

// The whole content of a system file (a sysfs attribute); nullopt when it
// cannot be read, which for such a file means that it is not there. Stores go
// through readWholeFile (whole_file.h), which tells a missing file from one
// that cannot be read.
std::optional<std::string> readFile(const std::string& path);

// Waits for and holds an exclusive lock on `lockPath` (created on demand) until
// the returned descriptor is destroyed. Invalid when the file cannot be opened.
UniqueFd lockExclusive(const std::string& lockPath);

}  // namespace loopmon::posix
