#include <cstdint>

#include "platform/store/profile_file.h"

namespace loopmon {

namespace {

std::string trimBlanks(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

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
    const char c = value[i];
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      break;
    }
    result = result * base + digit;
  }
  return static_cast<int32_t>(negative ? 0u - result : result);
}

bool acceptableProfileEntries(const std::string& section,
                              const std::vector<std::pair<std::string, std::string>>& entries) {
  if (hasLineBreak(section) || trimBlanks(section).empty()) return false;
  if (section.find(']') != std::string::npos) return false;
  for (const auto& [key, value] : entries) {
    if (hasLineBreak(key) || hasLineBreak(value) || trimBlanks(key).empty()) return false;
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
