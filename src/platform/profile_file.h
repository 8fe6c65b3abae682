#pragma once
// INI ("profile") files with the semantics of the Windows profile functions:
// section and key names compare case-insensitively, blanks around names and
// values are trimmed, a written key replaces the old one in place, a new
// section is appended. Writes replace the file atomically.

#include <string>
#include <vector>

namespace loopmon {

class ProfileFile {
 public:
  explicit ProfileFile(std::string path);
  const std::string& path() const { return path_; }

  std::string readString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;
  // Decimal, or hexadecimal after "0x"; a value that is not a number reads as
  // its leading digits, or as `defaultValue` when the key is missing.
  int readInt(const std::string& section, const std::string& key, int defaultValue) const;
  // Key names of a section in file order; empty when the section is missing.
  std::vector<std::string> keys(const std::string& section) const;
  // False when the file cannot be written; the old file then stays intact.
  bool writeString(const std::string& section, const std::string& key, const std::string& value);

 private:
  std::string path_;
};

}  // namespace loopmon
