#pragma once
// Files that are read whole and replaced whole: the stores (the registry
// store, the profile files) and every other file the program saves. A file
// that is there but cannot be read never passes for an empty one, and a
// replacement leaves the old file or the new one, never a mix.

#include <cstddef>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace loopmon {

// A file that cannot be read or replaced. what(): "<path>: <reason>", the
// reason in the system's own words where it gave them.
class FileError : public std::runtime_error {
 public:
  FileError(const std::string& path, const std::string& reason)
      : std::runtime_error(path + ": " + reason), path_(path), reason_(reason) {}
  const std::string& path() const { return path_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string path_;
  std::string reason_;
};

// The reasons a user can act on, the same on every platform.
inline constexpr char FileNotFound[] = "not found";
inline constexpr char FilePermissionDenied[] = "permission denied";
inline constexpr char FileNotRegular[] = "not a regular file";

// Every file read whole is a small one of the program's own; a larger one is
// refused before it is read rather than held in memory.
inline constexpr size_t WholeFileLimit = 16 * 1024 * 1024;

// The whole content of the file at `path`; no value when there is no such
// file (or folder on its way). Throws FileError for any other failure: no
// permission, an I/O error, a folder or anything else than a regular file in
// its place (a FIFO or a device is never waited on), or more than `limit`
// bytes.
std::optional<std::string> readWholeFile(const std::string& path, size_t limit = WholeFileLimit);

// Replaces the file at `path` with `content`, whole or not at all: the content
// goes to a new file with an unpredictable name beside it (created anew, never
// one found there), is flushed to disk and takes the old file's place in one
// rename. The old file's permissions stay; a new file gets the usual ones
// (POSIX: 0666 less the umask). A read-only file is refused, as Windows
// refuses it. POSIX: a symbolic link that the user or the folder's owner made
// stays a link and the file it leads to is replaced; a link or a file owned
// by another user is refused (replacing it would hand it to this user, or let
// the other one choose which of this user's files is overwritten).
// Throws FileError naming the file and the reason; the old file is then
// untouched and nothing is left beside it.
void replaceWholeFile(const std::string& path, std::string_view content);

// A file written as it goes (a trace), emptied first or created, under the
// rules of replaceWholeFile: a link or a file of another user is refused, and
// so is anything but a regular file, without waiting on a FIFO. The stream
// is the caller's to close. Throws FileError naming the file and the reason.
std::FILE* openOwnFileForWriting(const std::string& path);

}  // namespace loopmon
