#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/posix_files.h"
#include "platform/program_folder.h"

namespace loopmon {

std::string programFolder() {
  std::string path(4096, '\0');
  ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0) return "./";
  path.resize(static_cast<size_t>(n));
  return posix::folderOf(path);
}

std::string userConfigFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  // Relative values are invalid by the base directory rules and are ignored.
  if (config && config[0] == '/') return std::string(config) + "/loopmon/";
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.config/loopmon/";
}

bool folderWritable(const std::string& folder) {
  std::string probe = folder + ".loopmon-probe-XXXXXX";
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

std::string runtimeFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string folder = runtime && runtime[0] == '/'
                           ? std::string(runtime) + "/loopmon/"
                           : "/tmp/loopmon-" + std::to_string(::getuid()) + "/";
  posix::makeDirectories(folder, 0700);
  // Markers and the simulator socket must not be reachable by other users: a
  // folder under /tmp could have been made by someone else, so insist on owning
  // it (a symbolic link is refused too) and keep it private.
  struct stat st {};
  if (::lstat(folder.substr(0, folder.size() - 1).c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
      st.st_uid != ::getuid()) {
    return std::string();
  }
  if ((st.st_mode & 077) != 0) ::chmod(folder.c_str(), 0700);
  return folder;
}

}  // namespace loopmon
