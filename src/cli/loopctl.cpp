// loopctl: the bus, the loops and the coefficients from the command line,
// through the same core as the desktop program and with its texts.

#include <algorithm>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "cli/commands.h"
#include "cli/help.h"
#include "cli/output.h"
#include "cli/trace_output.h"
#include "common/translation.h"
#include "platform/system/console.h"

namespace loopmon::cli {
namespace {

int runCommand(const Command& command, std::vector<std::string> rest) {
  const TraceOptions traceOptions = takeTraceOptions(rest);
  if (traceOptions.any() && command.bus != BusUse::Traced) {
    throw UsageError(tr("--trace and --stats go with scan, read, send, check, survey and monitor"));
  }
  const Arguments args(rest, command.valued, command.flags);
  std::optional<TraceOutput> output;
  if (traceOptions.any()) output.emplace(traceOptions);
  const int status = command.run({args, output ? &*output : nullptr});
  if (output) output->finish();
  return status;
}

bool asksForHelp(const std::vector<std::string>& words) {
  return std::ranges::any_of(
      words, [](const std::string& word) { return word == "-h" || word == "--help"; });
}

int run(const std::vector<std::string>& words) {
  if (words.empty()) {
    writeText(stderr, programUsage());
    return ExitUsage;
  }
  const std::string& command = words.front();
  const std::vector<std::string> rest(words.begin() + 1, words.end());
  // Which help a usage error points to: the command's, when there is one.
  std::string helpCall = "loopctl --help";
  try {
    if (command == "-h" || command == "--help" || (command == "help" && rest.empty())) {
      writeText(stdout, programUsage());
      return ExitSuccess;
    }
    if (command == "--version") {
      printLine(stdout, versionText());
      return ExitSuccess;
    }
    if (command == "help") {
      const std::string usage = commandUsage(rest.front());
      if (usage.empty() || rest.size() > 1)
        throw UsageError(trWith("no help for %s", {rest.back()}));
      writeText(stdout, usage);
      return ExitSuccess;
    }
    const Command* found = findCommand(command);
    if (!found) throw UsageError(trWith("unknown command %s", {command}));
    helpCall = "loopctl " + command + " --help";
    if (asksForHelp(rest)) {
      writeText(stdout, commandUsage(command));
      return ExitSuccess;
    }
    return runCommand(*found, rest);
  } catch (const UsageError& error) {
    printText(stderr, tr("loopctl: %s (see %s)\n"), error.what(), helpCall.c_str());
    return ExitUsage;
  } catch (const std::exception& error) {
    printText(stderr, "loopctl: %s\n", error.what());
    return ExitFailure;
  } catch (...) {
    printText(stderr, "%s", tr("loopctl: an unexpected error ended the command\n"));
    return ExitFailure;
  }
}

}  // namespace
}  // namespace loopmon::cli

int main(int argc, char** argv) {
  loopmon::useUserLanguage("loopctl");
  std::vector<std::string> words = loopmon::commandLineWords(argc, argv);
  if (!words.empty()) words.erase(words.begin());
  return loopmon::cli::run(words);
}
