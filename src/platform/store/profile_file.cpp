#include <cstdint>

#include "platform/store/profile_file.h"
#include "platform/system/text_scan.h"

namespace loopmon {

namespace {

bool hasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

// No value read from a file holds a line break.
const std::string MissingKey = "\n";

}  // namespace

int profileInteger(const std::string& value) {
  size_t i = 0;
  bool negative = false;
  if (i < value.size() && (value[i] == '-' || value[i] == '+')) negative = value[i++] == '-';
  unsigned base = 10;
  if (value.compare(i, 2, "0x") == 0 || value.compare(i, 2, "0X") == 0) {
    base = 16;
    i += 2;
  } else if (i < value.size() && value[i] == '$') {
    base = 16;
    ++i;
  }
  // Like the profile functions: the leading digits count, the rest is ignored,
  // and the result wraps at 32 bits.
  uint32_t result = 0;
  for (; i < value.size(); ++i) {
    const int digit = digitValue(value[i], static_cast<int>(base));
    if (digit < 0) break;
    result = result * base + static_cast<unsigned>(digit);
  }
  return static_cast<int32_t>(negative ? 0u - result : result);
}

bool acceptableProfileEntries(const std::string& section,
                              const std::vector<std::pair<std::string, std::string>>& entries) {
  if (hasLineBreak(section) || trimmed(section).empty()) return false;
  if (section.find(']') != std::string::npos) return false;
  for (const auto& [key, value] : entries) {
    if (hasLineBreak(key) || hasLineBreak(value) || trimmed(key).empty()) return false;
    if (key.find('=') != std::string::npos) return false;
  }
  return true;
}

ProfileFile::ProfileFile(std::string path) : path_(std::move(path)) {}

int ProfileFile::readInt(const std::string& section, const std::string& key,
                         int defaultValue) const {
  const std::string value = readString(section, key, MissingKey);
  return value == MissingKey ? defaultValue : profileInteger(value);
}

bool ProfileFile::writeString(const std::string& section, const std::string& key,
                              const std::string& value) {
  return writeStrings(section, {{key, value}});
}

}  // namespace loopmon
