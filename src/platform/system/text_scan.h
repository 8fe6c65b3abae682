#pragma once
// The small scans every reader of a text file makes: blanks off the ends of
// a line, the value of a digit.

#include <string_view>

namespace loopmon {

// `text` without the characters of `blanks` at either end.
constexpr std::string_view trimmed(std::string_view text, std::string_view blanks = " \t") {
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) + 1 - first);
}

// The value of `c` as a digit of `base` (10 or 16, either case); -1 when it
// is none.
constexpr int digitValue(char c, int base) {
  if (c >= '0' && c <= '9') return c - '0';
  if (base == 16 && c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (base == 16 && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace loopmon
