#pragma once
// loopctl's commands, each written once: its name, its help, the options it
// takes, how it uses the bus and what runs it. The help, the dispatch and the
// check of --trace all read this one table.

#include <set>
#include <string>
#include <vector>

#include "cli/cli_args.h"

namespace loopmon::cli {

class TraceOutput;

// How a command uses the bus, which decides whether --trace and --stats go
// with it.
enum class BusUse {
  None,
  // One session, traced from its first exchange when asked.
  Traced,
  // A session of its own for each line, opened and reopened as it goes.
  OwnSessions,
};

// What a command is run with: its words parsed by its options, and the trace
// when one was asked for.
struct CommandCall {
  const Arguments& args;
  TraceOutput* trace = nullptr;
};

struct Command {
  const char* name;
  // The help as written, translated when shown; its first lines, up to the
  // first that does not continue "usage: ", are the command's summary.
  const char* help;
  std::set<std::string> valued;
  std::set<std::string> flags;
  BusUse bus;
  // Returns the exit status.
  int (*run)(const CommandCall& call);
};

// Every command, in the order the overview lists them.
const std::vector<Command>& commands();

// The command of that name; nullptr when there is none.
const Command* findCommand(const std::string& name);

}  // namespace loopmon::cli
