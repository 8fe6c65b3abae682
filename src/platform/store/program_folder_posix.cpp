#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/store/program_folder.h"
#include "platform/store/runtime_folder_posix.h"
#include "platform/store/whole_file.h"
#include "platform/system/files_posix.h"

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

std::string userDocumentsFolder() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') return {};
  const std::string documents = std::string(home) + "/Documents";
  struct stat info {};
  return ::stat(documents.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? documents : home;
}

bool folderWritable(const std::string& folder) {
  std::string probe = folder + ".loopmon-probe-XXXXXX";
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

namespace {

// A folder of this user's alone, made when `create` and missing: a real
// folder (not a link), owned by the user, and kept private.
bool ownPrivateFolder(const std::string& folder, bool create) {
  if (create) posix::makeDirectories(folder, 0700);
  struct stat st {};
  if (::lstat(folder.substr(0, folder.size() - 1).c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
      st.st_uid != ::getuid()) {
    return false;
  }
  if ((st.st_mode & 077) != 0) ::chmod(folder.c_str(), 0700);
  return true;
}

std::string cacheFolder() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache && cache[0] == '/') return std::string(cache) + "/loopmon/";
  const char* home = std::getenv("HOME");
  return home && home[0] == '/' ? std::string(home) + "/.cache/loopmon/" : std::string();
}

}  // namespace

std::string posix::privateRuntimeFolder(const std::string& shared, const std::string& pointer) {
  if (ownPrivateFolder(shared, true)) return shared;
  // Another user made the folder first. It stays refused; a fresh folder with
  // a random name takes its place, and its name is kept where only this user
  // writes, so that every process of the user meets there.
  if (pointer.empty() || !posix::makeDirectories(posix::folderOf(pointer), 0700)) return {};
  const posix::UniqueFd lock = posix::lockExclusive(pointer + ".lock");
  if (!lock.valid()) return {};
  try {
    const std::optional<std::string> kept = readWholeFile(pointer);
    if (kept && kept->starts_with(shared.substr(0, shared.size() - 1) + ".") &&
        ownPrivateFolder(*kept, false)) {
      return *kept;
    }
    std::string fresh = shared.substr(0, shared.size() - 1) + ".XXXXXX";
    if (!::mkdtemp(fresh.data())) return {};
    fresh += '/';
    replaceWholeFile(pointer, fresh);
    return fresh;
  } catch (const FileError&) {
    return {};
  }
}

std::string runtimeFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') {
    const std::string folder = std::string(runtime) + "/loopmon/";
    return ownPrivateFolder(folder, true) ? folder : std::string();
  }
  // Markers and the simulator socket must not be reachable by other users: a
  // folder under /tmp could have been made by someone else, so it must be the
  // user's own (a symbolic link is refused too) and private.
  const std::string cache = cacheFolder();
  return posix::privateRuntimeFolder("/tmp/loopmon-" + std::to_string(::getuid()) + "/",
                                     cache.empty() ? cache : cache + "runtime-folder");
}

}  // namespace loopmon
