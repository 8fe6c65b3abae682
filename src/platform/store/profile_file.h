#pragma once
// INI ("profile") files with the semantics of the Windows profile functions:
// section and key names compare case-insensitively, blanks around names and
// values are trimmed, a written key replaces the old one in place, a new
// section is appended. Writes replace the file atomically (replaceWholeFile).
// A missing file reads as empty; a file that is there but cannot be read makes
// every read and write throw FileError (whole_file.h) naming it and the reason.

#include <string>
#include <utility>
#include <vector>

namespace loopmon {

class ProfileFile {
 public:
  explicit ProfileFile(std::string path);
  const std::string& path() const { return path_; }

  std::string readString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;
  // Decimal, or hexadecimal after "0x" or "$", with an optional sign; a value
  // that is not a number reads as its leading digits (0 when there are none),
  // and a missing key as `defaultValue`.
  int readInt(const std::string& section, const std::string& key, int defaultValue) const;
  // Key names of a section in file order; empty when the section is missing.
  std::vector<std::string> keys(const std::string& section) const;
  // False when the file cannot be written (read-only, a folder that cannot be
  // written, a link or file of another user); the old file then stays intact.
  bool writeString(const std::string& section, const std::string& key, const std::string& value);
  // Several keys of one section, in the given order, in a single replacement
  // of the file: either all of them are written or the file stays as it was.
  // A name or value holding a line break is refused (false), since it would
  // turn into lines of its own.
  bool writeStrings(const std::string& section,
                    const std::vector<std::pair<std::string, std::string>>& entries);

 private:
  std::string path_;
};

// What the profile files of both systems share: the text of an integer value
// and the names and values a write accepts.

// Decimal, or hexadecimal after "0x" or "$", with an optional sign; the
// leading digits count (0 when there are none) and the result wraps at 32 bits.
int profileInteger(const std::string& value);

// False for entries that would not come back as written: a line break in a
// name or value, an empty name, "=" in a key or "]" in a section name.
bool acceptableProfileEntries(const std::string& section,
                              const std::vector<std::pair<std::string, std::string>>& entries);

}  // namespace loopmon
