#pragma once
// Command-line words of loopctl: options with values, flags and the plain
// words that remain, and the checked conversions of their values.

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/system/utf8.h"

namespace loopmon::cli {

// A problem the user has to fix; what() is the one line loopctl prints.
class CliError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A bad command line, as opposed to a failure of the work itself.
class UsageError : public CliError {
 public:
  using CliError::CliError;
};

class Arguments {
 public:
  // `valued` options take a value, as the next word or after "=" in the same
  // word; `flags` stand alone. Anything else starting with "--" is an
  // unknown option.
  Arguments(const std::vector<std::string>& words, const std::set<std::string>& valued,
            const std::set<std::string>& flags);

  bool has(const std::string& option) const;
  // The option's value; UsageError when it was not given.
  std::string required(const std::string& option) const;
  std::string value(const std::string& option, const std::string& fallback) const;
  const std::vector<std::string>& plain() const { return plain_; }
  // Every value of an option given more than once, in order.
  std::vector<std::string> all(const std::string& option) const;

 private:
  std::map<std::string, std::string> values_;
  std::set<std::string> flags_;
  std::vector<std::string> plain_;
  std::map<std::string, std::vector<std::string>> repeated_;
};

// A decimal integer (or hexadecimal after "0x") within [low, high]; UsageError
// naming `what` otherwise.
int parseNumber(const std::string& text, int low, int high, const std::string& what);

// A device's version byte for --version: as the device reports it ("105") or
// as scan and the window show it, divided by 100 ("1.05", "1,05", "1.6");
// UsageError otherwise.
int parseDeviceVersion(const std::string& text);

// "3,5-8,12": numbers within [low, high], rising ranges; UsageError naming
// `what` otherwise.
std::set<int> parseNumberList(const std::string& text, int low, int high, const std::string& what);

// "3,5-8,12": loop numbers within 1..127.
std::set<int> parseLoopList(const std::string& text);

// "5,7,20-23": bus addresses 1..127 in the order given; repeats poll an
// address more often.
std::vector<uint8_t> parsePollList(const std::string& text);

// "5:1,5:2,7:3": address (1..127) and loop number (1..255) pairs.
std::vector<std::pair<uint8_t, uint8_t>> parseSubscriptions(const std::string& text);

// A decimal fraction typed with either "." or "," as its separator, whatever
// the locale, given back with `separator` in its place; the text is otherwise
// unchanged, so a conversion error still quotes what was typed.
std::string withDecimalSeparator(const std::string& text, char separator);

// A file that cannot be written is told before the bus work, not after it:
// CliError naming `option` when `path` is no file name or its folder is missing.
void checkWritable(const std::string& option, const std::string& path);

}  // namespace loopmon::cli
