#pragma once
// loopctl monitor: the session's worker switched on from the command line. It
// polls addresses, watches loop readings and prints every event as one line.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "session/session.h"

namespace loopmon::cli {

// Opens the session on the port text of --port, with its handlers run by
// `owner`; throws CliError when the port cannot be used.
using SessionOpener = std::function<std::unique_ptr<TRSSession>(
    const std::string& port, std::shared_ptr<OwnerDispatcher> owner)>;

// Runs until --duration has passed (exit status 0), or until SIGINT or
// SIGTERM (128 + the signal's number).
int monitor(const Arguments& args, const SessionOpener& open);

}  // namespace loopmon::cli
