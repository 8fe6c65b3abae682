// loopctl's command-line words: a bad one is a CliError with a message, never
// another exception, and whatever is accepted lies within its range.

#include "cli/cli_args.h"
#include "fuzz_check.h"

using namespace loopmon;
using fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Words are separated by NUL bytes, as in argv.
  std::vector<std::string> words;
  std::string word;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      words.push_back(word);
      word.clear();
    } else {
      word += static_cast<char>(data[i]);
    }
  }
  words.push_back(word);

  try {
    const cli::Arguments args(words,
                              {"--port", "--addr", "--skip", "--poll", "--subscribe", "--period"},
                              {"--state", "--csv", "--json"});
    for (const std::string& text : args.plain()) {
      try {
        const int n = cli::parseNumber(text, 0, 255, "byte");
        require(n >= 0 && n <= 255, "a byte lies within 0..255");
      } catch (const cli::CliError& e) {
        require(*e.what() != '\0', "an error has a message");
      }
    }
    if (args.has("--skip")) {
      for (int loop : cli::parseLoopList(args.required("--skip"))) {
        require(loop >= 1 && loop <= 127, "a loop lies within 1..127");
      }
    }
    if (args.has("--poll")) {
      for (uint8_t addr : cli::parsePollList(args.required("--poll"))) {
        require(addr >= 1 && addr <= 127, "an address lies within 1..127");
      }
    }
    if (args.has("--subscribe")) {
      for (auto [addr, loop] : cli::parseSubscriptions(args.required("--subscribe"))) {
        require(addr >= 1 && addr <= 127 && loop >= 1, "a subscription lies within range");
      }
    }
    cli::parseNumber(args.value("--period", "1"), 1, 30, "--period");
  } catch (const cli::CliError& e) {
    require(*e.what() != '\0', "an error has a message");
  }
  return 0;
}
