#pragma once
// loopctl check: is the port and its converter fit for the bus? One line per
// finding, each with a verdict: open time, echo, USB latency timer, round
// trip and turnaround margin to a device, the line settings the measurements
// suggest, and kernel RS-485 support.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "session/session.h"

namespace loopmon::cli {

// Opens the session on the port text of --port; throws CliError when the port
// cannot be used.
using PortOpener = std::function<std::unique_ptr<TRSSession>(const std::string& port)>;

// Returns the exit status: 0 when nothing failed, 1 otherwise.
int check(const Arguments& args, const PortOpener& open);

}  // namespace loopmon::cli
