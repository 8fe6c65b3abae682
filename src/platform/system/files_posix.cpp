#include "platform/system/files_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace loopmon::posix {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

int UniqueFd::release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

namespace {

bool isDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool makeDirectories(const std::string& path, mode_t mode) {
  if (path.empty() || isDirectory(path)) return !path.empty();
  std::string::size_type slash = path.find_last_of('/', path.size() - 2);
  if (slash != std::string::npos && slash > 0) makeDirectories(path.substr(0, slash), mode);
  if (::mkdir(path.c_str(), mode) == 0) return true;
  return errno == EEXIST && isDirectory(path);
}

std::string folderOf(const std::string& path) {
  std::string::size_type slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::optional<std::string> readFile(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  std::string content;
  char chunk[8192];
  for (;;) {
    ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return content;
    content.append(chunk, static_cast<size_t>(n));
  }
}

UniqueFd lockExclusive(const std::string& lockPath) {
  UniqueFd fd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!fd.valid()) return fd;
  while (::flock(fd.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return UniqueFd();
  }
  return fd;
}

}  // namespace loopmon::posix
