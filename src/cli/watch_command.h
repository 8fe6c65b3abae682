#pragma once
// loopctl watch: the unattended watch of whole buses, with its event log and
// its metrics, until SIGINT or SIGTERM (or --passes).

#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "watch/watch.h"

namespace loopmon::cli {

int watch(const Arguments& args, const SessionMaker& makeSession);

}  // namespace loopmon::cli
