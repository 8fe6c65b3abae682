#include "cli/cli_args.h"

#include <cctype>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "common/translation.h"

namespace loopmon::cli {

Arguments::Arguments(const std::vector<std::string>& words, const std::set<std::string>& valued,
                     const std::set<std::string>& flags) {
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word.rfind("--", 0) != 0) {
      plain_.push_back(word);
      continue;
    }
    const size_t equals = word.find('=');
    const std::string name = word.substr(0, equals);
    if (flags.count(name) != 0) {
      if (equals != std::string::npos) throw UsageError(trWith("%s takes no value", {name}));
      flags_.insert(name);
    } else if (valued.count(name) != 0) {
      if (equals != std::string::npos) {
        values_[name] = word.substr(equals + 1);
      } else {
        if (i + 1 == words.size()) throw UsageError(trWith("%s needs a value", {name}));
        values_[name] = words[++i];
      }
      repeated_[name].push_back(values_[name]);
    } else {
      throw UsageError(trWith("unknown option %s", {name}));
    }
  }
}

bool Arguments::has(const std::string& option) const {
  return flags_.count(option) != 0 || values_.count(option) != 0;
}

std::string Arguments::required(const std::string& option) const {
  const auto found = values_.find(option);
  if (found == values_.end()) throw UsageError(trWith("%s is missing", {option}));
  return found->second;
}

std::string Arguments::value(const std::string& option, const std::string& fallback) const {
  const auto found = values_.find(option);
  return found == values_.end() ? fallback : found->second;
}

std::vector<std::string> Arguments::all(const std::string& option) const {
  const auto found = repeated_.find(option);
  return found == repeated_.end() ? std::vector<std::string>{} : found->second;
}

int parseNumber(const std::string& text, int low, int high, const std::string& what) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  const bool allDigits =
      !digits.empty() && digits.size() <= 9 &&
      digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") == std::string::npos;
  if (!allDigits) throw UsageError(trWith("%s: '%s' is not a number", {what, text}));
  const long number = std::strtol(digits.c_str(), nullptr, hex ? 16 : 10);
  if (number < low || number > high) {
    throw UsageError(trWith("%s: %s is outside %s..%s",
                            {what, text, std::to_string(low), std::to_string(high)}));
  }
  return static_cast<int>(number);
}

int parseDeviceVersion(const std::string& text) {
  const size_t separator = text.find_first_of(".,");
  if (separator == std::string::npos) return parseNumber(text, 0, 255, "--version");
  const std::string units = text.substr(0, separator);
  std::string hundredths = text.substr(separator + 1);
  const bool digits = units.size() == 1 && std::isdigit(static_cast<unsigned char>(units[0])) &&
                      !hundredths.empty() && hundredths.size() <= 2 &&
                      hundredths.find_first_not_of("0123456789") == std::string::npos;
  if (!digits) {
    throw UsageError(trWith("--version: '%s' is not a version (such as 1.05 or 105)", {text}));
  }
  hundredths.resize(2, '0');
  const int version = (units[0] - '0') * 100 + std::stoi(hundredths);
  if (version > 255) throw UsageError(trWith("--version: %s is outside 0.00..2.55", {text}));
  return version;
}

std::set<int> parseNumberList(const std::string& text, int low, int high, const std::string& what) {
  std::set<int> numbers;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = std::min(text.find(',', start), text.size());
    const std::string item = text.substr(start, end - start);
    const size_t dash = item.find('-');
    const int first = parseNumber(item.substr(0, dash), low, high, what);
    const int last =
        dash == std::string::npos ? first : parseNumber(item.substr(dash + 1), low, high, what);
    if (last < first) throw UsageError(trWith("%s: '%s' is not a rising range", {what, item}));
    for (int number = first; number <= last; ++number) numbers.insert(number);
    start = end + 1;
  }
  return numbers;
}

std::set<int> parseLoopList(const std::string& text) {
  return parseNumberList(text, 1, 127, "--skip");
}

std::string withDecimalSeparator(const std::string& text, char separator) {
  std::string result = text;
  if (std::count(text.begin(), text.end(), '.') + std::count(text.begin(), text.end(), ',') == 1) {
    std::replace_if(
        result.begin(), result.end(), [](char c) { return c == '.' || c == ','; }, separator);
  }
  return result;
}

std::vector<uint8_t> parsePollList(const std::string& text) {
  std::vector<uint8_t> addresses;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = std::min(text.find(',', start), text.size());
    const std::string item = text.substr(start, end - start);
    const size_t dash = item.find('-');
    const int first = parseNumber(item.substr(0, dash), 1, 127, "--poll");
    const int last =
        dash == std::string::npos ? first : parseNumber(item.substr(dash + 1), 1, 127, "--poll");
    if (last < first) throw UsageError(trWith("%s: '%s' is not a rising range", {"--poll", item}));
    for (int addr = first; addr <= last; ++addr) addresses.push_back(static_cast<uint8_t>(addr));
    start = end + 1;
  }
  return addresses;
}

std::vector<std::pair<uint8_t, uint8_t>> parseSubscriptions(const std::string& text) {
  std::vector<std::pair<uint8_t, uint8_t>> loops;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = std::min(text.find(',', start), text.size());
    const std::string item = text.substr(start, end - start);
    const size_t colon = item.find(':');
    if (colon == std::string::npos)
      throw UsageError(trWith("--subscribe: '%s' is not ADDR:LOOP", {item}));
    loops.emplace_back(parseNumber(item.substr(0, colon), 1, 127, "--subscribe"),
                       parseNumber(item.substr(colon + 1), 1, 255, "--subscribe"));
    start = end + 1;
  }
  return loops;
}

void checkWritable(const std::string& option, const std::string& path) {
  std::error_code error;
  const std::filesystem::path file = pathOf(path);
  if (path.empty() || std::filesystem::is_directory(file, error)) {
    throw CliError(trWith("%s: '%s' is not a file name", {option, path}));
  }
  const std::filesystem::path folder = file.parent_path();
  if (!folder.empty() && !std::filesystem::is_directory(folder, error)) {
    throw CliError(trWith("%s: the folder of %s does not exist", {option, path}));
  }
}

}  // namespace loopmon::cli
