#pragma once
// What loopctl tells about itself: the usage of each command, the version,
// and the exit statuses that scripts can rely on.

#include <string>

namespace loopmon::cli {

enum ExitStatus : int {
  ExitSuccess = 0,
  // The work failed: no answer, a port that cannot be used, a file that
  // cannot be written.
  ExitFailure = 1,
  // The command line is wrong; nothing was done.
  ExitUsage = 2,
  // The scan or survey went through its addresses and no device answered.
  ExitNothingFound = 3,
  // compare found what changed between two records.
  ExitChanged = 4,
  // Ended by Ctrl-C; 128 + SIGINT, as shells report it.
  ExitInterrupted = 130,
};

// The summary of every command, for a bare call, -h and --help.
std::string programUsage();

// The usage and options of one command; empty when there is no such command.
std::string commandUsage(const std::string& command);

// "loopctl <version>".
std::string versionText();

}  // namespace loopmon::cli
