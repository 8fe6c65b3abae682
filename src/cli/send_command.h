#pragma once
// loopctl send: one raw request, its answer in hex and decoded.

#include "cli/cli_args.h"

namespace loopmon::cli {

class TraceOutput;

int send(const Arguments& args, TraceOutput* trace);

}  // namespace loopmon::cli
