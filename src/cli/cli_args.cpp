#include "cli/cli_args.h"

#include <algorithm>
#include <cstdlib>

namespace loopmon::cli {

Arguments::Arguments(const std::vector<std::string>& words, const std::set<std::string>& valued,
                     const std::set<std::string>& flags) {
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word.rfind("--", 0) != 0) {
      plain_.push_back(word);
    } else if (flags.count(word) != 0) {
      flags_.insert(word);
    } else if (valued.count(word) != 0) {
      if (i + 1 == words.size()) throw CliError(word + " needs a value");
      values_[word] = words[++i];
    } else {
      throw CliError("unknown option " + word);
    }
  }
}

bool Arguments::has(const std::string& option) const {
  return flags_.count(option) != 0 || values_.count(option) != 0;
}

std::string Arguments::required(const std::string& option) const {
  const auto found = values_.find(option);
  if (found == values_.end()) throw CliError(option + " is missing");
  return found->second;
}

std::string Arguments::value(const std::string& option, const std::string& fallback) const {
  const auto found = values_.find(option);
  return found == values_.end() ? fallback : found->second;
}

int parseNumber(const std::string& text, int low, int high, const std::string& what) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  const bool allDigits =
      !digits.empty() && digits.size() <= 9 &&
      digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") == std::string::npos;
  if (!allDigits) throw CliError(what + ": '" + text + "' is not a number");
  const long number = std::strtol(digits.c_str(), nullptr, hex ? 16 : 10);
  if (number < low || number > high) {
    throw CliError(what + ": " + text + " is outside " + std::to_string(low) + ".." +
                   std::to_string(high));
  }
  return static_cast<int>(number);
}

std::set<int> parseLoopList(const std::string& text) {
  std::set<int> loops;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = std::min(text.find(',', start), text.size());
    const std::string item = text.substr(start, end - start);
    const size_t dash = item.find('-');
    const int first = parseNumber(item.substr(0, dash), 1, 127, "--skip");
    const int last =
        dash == std::string::npos ? first : parseNumber(item.substr(dash + 1), 1, 127, "--skip");
    if (last < first) throw CliError("--skip: '" + item + "' is not a rising range");
    for (int loop = first; loop <= last; ++loop) loops.insert(loop);
    start = end + 1;
  }
  return loops;
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
    if (last < first) throw CliError("--poll: '" + item + "' is not a rising range");
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
    if (colon == std::string::npos) throw CliError("--subscribe: '" + item + "' is not ADDR:LOOP");
    loops.emplace_back(parseNumber(item.substr(0, colon), 1, 127, "--subscribe"),
                       parseNumber(item.substr(colon + 1), 1, 255, "--subscribe"));
    start = end + 1;
  }
  return loops;
}

}  // namespace loopmon::cli
