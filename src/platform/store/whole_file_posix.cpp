// The new content is written to a file of its own beside the old one, made
// exclusively under a random name (O_EXCL, O_NOFOLLOW: nothing planted there
// beforehand is written through), flushed, and renamed over the old file. A
// rename replaces a directory entry in one step and never follows a link at
// its target, so a reader or a crash sees the old file or the new one.

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/store/whole_file.h"
#include "platform/system/files_posix.h"

namespace loopmon {
namespace {

// The failures a user can mend are said in the same words on every
// platform; the rest in the system's own.
[[noreturn]] void fail(const std::string& path, int code) {
  switch (code) {
    case ENOENT:
      throw FileError(path, FileNotFound);
    case EACCES:
    case EPERM:
      throw FileError(path, FilePermissionDenied);
    case EISDIR:
      throw FileError(path, FileNotRegular);
    default:
      throw FileError(path, std::strerror(code));
  }
}

// The file a replacement of `path` writes: `path` itself, or the file its
// links lead to, each link made by the user or by the owner of the folder it
// stands in (the rule of the kernel's protected_symlinks). A link another
// user planted in a folder others may write would let that user choose which
// of this user's files is overwritten.
std::string replacedFile(const std::string& path) {
  std::string file = path;
  for (int links = 0; links < 40; ++links) {
    struct stat link {};
    if (::lstat(file.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return file;
    struct stat folder {};
    const std::string folderPath = posix::folderOf(file);
    const bool trusted = link.st_uid == ::geteuid() ||
                         (::stat(folderPath.empty() ? "." : folderPath.c_str(), &folder) == 0 &&
                          link.st_uid == folder.st_uid);
    if (!trusted) throw FileError(path, "a symbolic link another user made; it is not followed");
    char target[PATH_MAX];
    const ssize_t length = ::readlink(file.c_str(), target, sizeof target);
    if (length < 0) fail(path, errno);
    if (length == static_cast<ssize_t>(sizeof target)) fail(path, ENAMETOOLONG);
    file =
        target[0] == '/' ? std::string(target, length) : folderPath + std::string(target, length);
  }
  fail(path, ELOOP);
}

// A new file beside `target` under a name nobody can guess, created with the
// usual permissions (0666 less the umask).
posix::UniqueFd createBeside(const std::string& target, std::string& name) {
  static constexpr char Letters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  for (int attempt = 0; attempt < 16; ++attempt) {
    unsigned char random[12];
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) break;
    name = target + ".";
    for (unsigned char byte : random) name += Letters[byte % (sizeof Letters - 1)];
    posix::UniqueFd fd(
        ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (fd.valid() || errno != EEXIST) return fd;
  }
  return posix::UniqueFd();
}

bool writeAll(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t n = ::write(fd, content.data(), content.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    content.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

[[noreturn]] void tooLarge(const std::string& path, size_t limit) {
  throw FileError(path, "larger than " + std::to_string(limit / (1024 * 1024)) + " MB");
}

// The checks before a file is replaced or written anew: `target` (the file
// its trusted links lead to) is a regular file of this user, or not there.
struct stat checkedTarget(const std::string& path, const std::string& target, bool& exists) {
  struct stat old {};
  exists = ::stat(target.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) fail(path, errno);
  if (exists && !S_ISREG(old.st_mode)) throw FileError(path, FileNotRegular);
  // Permission bits without any write bit stand for Windows' read-only
  // attribute, which refuses the write even where the system (to the
  // super-user) would let it by; a folder's bits likewise.
  if (exists && ((old.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0)) {
    throw FileError(path, "the file is read-only");
  }
  const std::string folder = posix::folderOf(target);
  struct stat folderStatus {};
  if (::stat(folder.empty() ? "." : folder.c_str(), &folderStatus) == 0 &&
      (folderStatus.st_mode & 0222) == 0) {
    throw FileError(path, "the folder is read-only");
  }
  // Only the super-user can give the new file to the old one's owner.
  if (exists && old.st_uid != ::geteuid() && ::geteuid() != 0) {
    throw FileError(path, "the file belongs to another user");
  }
  return old;
}

}  // namespace

std::optional<std::string> readWholeFile(const std::string& path, size_t limit) {
  // Without O_NONBLOCK the open of a FIFO would wait for a writer.
  posix::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) {
    if (errno == ENOENT) return std::nullopt;
    fail(path, errno);
  }
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) fail(path, errno);
  if (S_ISDIR(status.st_mode)) fail(path, EISDIR);
  if (!S_ISREG(status.st_mode)) throw FileError(path, FileNotRegular);
  if (static_cast<unsigned long long>(status.st_size) > limit) tooLarge(path, limit);
  std::string content;
  char chunk[8192];
  for (;;) {
    const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail(path, errno);
    if (n == 0) return content;
    // A file that grows while it is read is held to the same bound.
    if (content.size() + static_cast<size_t>(n) > limit) tooLarge(path, limit);
    content.append(chunk, static_cast<size_t>(n));
  }
}

std::FILE* openOwnFileForWriting(const std::string& path) {
  const std::string target = replacedFile(path);
  bool exists = false;
  checkedTarget(path, target, exists);
  // What was checked may be swapped before the open: the open follows no
  // link, waits on no FIFO, and what it opened is checked again.
  posix::UniqueFd fd(
      ::open(target.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
  if (!fd.valid()) fail(path, errno);
  struct stat opened {};
  if (::fstat(fd.get(), &opened) != 0) fail(path, errno);
  if (!S_ISREG(opened.st_mode)) throw FileError(path, FileNotRegular);
  if (opened.st_uid != ::geteuid() && ::geteuid() != 0) {
    throw FileError(path, "the file belongs to another user");
  }
  if (::ftruncate(fd.get(), 0) != 0) fail(path, errno);
  std::FILE* stream = ::fdopen(fd.get(), "w");
  if (stream == nullptr) fail(path, errno);
  fd.release();
  return stream;
}

void replaceWholeFile(const std::string& path, std::string_view content) {
  const std::string target = replacedFile(path);
  bool exists = false;
  const struct stat old = checkedTarget(path, target, exists);
  const std::string folder = posix::folderOf(target);

  std::string temporary;
  posix::UniqueFd fd = createBeside(target, temporary);
  if (!fd.valid()) fail(path, errno);
  const auto abandon = [&](int code) {
    ::unlink(temporary.c_str());
    fail(path, code);
  };
  if (exists) {
    // The owner first: a change of owner drops the set-id bits the mode then puts back.
    if (::fchown(fd.get(), old.st_uid, old.st_gid) != 0 && old.st_uid != ::geteuid()) {
      abandon(errno);
    }
    if (::fchmod(fd.get(), old.st_mode & 07777) != 0) abandon(errno);
  }
  if (!writeAll(fd.get(), content) || ::fsync(fd.get()) != 0) abandon(errno);
  if (::close(fd.release()) != 0) abandon(errno);
  if (::rename(temporary.c_str(), target.c_str()) != 0) abandon(errno);
  // The rename itself is durable only once the folder's entry is on disk.
  posix::UniqueFd dir(
      ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.valid()) ::fsync(dir.get());
}

}  // namespace loopmon
