#pragma once
// loopctl scan: the search of the bus over a list of addresses, with
// progress and a summary on standard error and the devices on standard output.

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "session/session.h"

namespace loopmon::cli {

// Opens the session on the text of --port; throws CliError when the port
// cannot be used.
using BusOpener = std::function<std::unique_ptr<TRSSession>(const std::string& port)>;

// A remote line that went down and could not be reached again ends the
// command with its reason (CliError): its rows would only say that no device
// answers.
void checkLine(const TRSSession& session);

// Returns the exit status: ExitNothingFound when no device answers.
int scan(const Arguments& args, const BusOpener& open);

}  // namespace loopmon::cli
