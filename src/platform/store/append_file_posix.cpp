// O_APPEND puts every write at the end even when another writer has moved it;
// fdatasync makes the line survive a power cut, not only a crash.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/store/append_file.h"

namespace loopmon {

struct AppendFile::Handle {
  int fd = -1;
  ~Handle() {
    if (fd >= 0) ::close(fd);
  }
};

namespace {

[[noreturn]] void fail(const std::string& path, int code) {
  throw FileError(path, std::strerror(code));
}

// The length up to and with the last line end: what stays of a file whose
// last line was cut short.
off_t completeLength(int fd, off_t size, const std::string& path) {
  char block[4096];
  off_t end = size;
  while (end > 0) {
    const off_t start = end > static_cast<off_t>(sizeof block) ? end - sizeof block : 0;
    const ssize_t got = ::pread(fd, block, static_cast<size_t>(end - start), start);
    if (got < 0) fail(path, errno);
    for (ssize_t i = got; i > 0; --i) {
      if (block[i - 1] == '\n') return start + i;
    }
    end = start;
  }
  return 0;
}

}  // namespace

AppendFile::AppendFile(const std::string& path) : path_(path), handle_(std::make_unique<Handle>()) {
  handle_->fd =
      ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
  if (handle_->fd < 0) fail(path, errno);
  struct stat status {};
  if (::fstat(handle_->fd, &status) != 0) fail(path, errno);
  if (!S_ISREG(status.st_mode)) throw FileError(path, "not a regular file");
  off_t size = status.st_size;
  if (size > 0) {
    char last = 0;
    if (::pread(handle_->fd, &last, 1, size - 1) != 1) fail(path, errno);
    if (last != '\n') {
      size = completeLength(handle_->fd, size, path);
      if (::ftruncate(handle_->fd, size) != 0) fail(path, errno);
    }
  }
  size_ = static_cast<uint64_t>(size);
}

AppendFile::~AppendFile() = default;

void AppendFile::appendLine(std::string_view line) {
  std::string whole(line);
  whole += '\n';
  size_t done = 0;
  while (done < whole.size()) {
    const ssize_t wrote = ::write(handle_->fd, whole.data() + done, whole.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0) fail(path_, errno);
    done += static_cast<size_t>(wrote);
  }
  if (::fdatasync(handle_->fd) != 0) fail(path_, errno);
  size_ += whole.size();
}

}  // namespace loopmon
