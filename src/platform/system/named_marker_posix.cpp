// Markers are files in the per-user runtime folder, held with flock(): a holder
// keeps a shared lock on its own open file description, so the marker exists
// exactly while some description holds the lock, and the kernel drops the lock
// when the holder ends, however it ends. The files themselves stay; an unheld
// file is no marker.
//
// Asking "does anyone hold it" means trying an exclusive lock, and flock cannot
// turn an exclusive lock into a shared one atomically. Each probe therefore runs
// under a second, per-name guard lock, so no two probes overlap and no creator
// can mistake another's momentary exclusive lock for a marker that existed.

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <utility>

#include "platform/system/files_posix.h"
#include "platform/system/named_marker.h"

namespace loopmon {
namespace {

class FileMarkerHold final : public MarkerHold {
 public:
  explicit FileMarkerHold(posix::UniqueFd fd) : fd_(std::move(fd)) {}

 private:
  posix::UniqueFd fd_;
};

bool lockRetryingSignals(int fd, int operation) {
  while (::flock(fd, operation) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// Names are used as file names; a slash must not lead out of the folder.
std::string markerFileName(const std::string& name) {
  std::string file = name;
  for (char& c : file) {
    if (c == '/') c = '_';
  }
  return file.empty() ? std::string("_") : file;
}

class FileMarkerService final : public MarkerService {
 public:
  explicit FileMarkerService(std::function<std::string()> folder) : folder_(std::move(folder)) {}

  std::unique_ptr<MarkerHold> create(const std::string& name, bool& alreadyExisted) override {
    alreadyExisted = false;
    return hold(name, /*joinOnly=*/false, alreadyExisted);
  }

  std::unique_ptr<MarkerHold> openExisting(const std::string& name) override {
    bool existed = false;
    return hold(name, /*joinOnly=*/true, existed);
  }

 private:
  std::unique_ptr<MarkerHold> hold(const std::string& name, bool joinOnly, bool& existed) {
    std::string folder = folder_();
    if (folder.empty()) return nullptr;
    std::string path = folder + markerFileName(name);
    posix::UniqueFd guard = posix::lockExclusive(path + ".guard");
    if (!guard.valid()) return nullptr;
    posix::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd.valid()) return nullptr;
    bool unheld = ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0;
    existed = !unheld;
    if (joinOnly && unheld) return nullptr;
    if (!lockRetryingSignals(fd.get(), LOCK_SH)) return nullptr;
    return std::make_unique<FileMarkerHold>(std::move(fd));
  }

  std::function<std::string()> folder_;
};

}  // namespace

std::unique_ptr<MarkerService> makeMarkerService(std::function<std::string()> folder) {
  return std::make_unique<FileMarkerService>(std::move(folder));
}

}  // namespace loopmon
