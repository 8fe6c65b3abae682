#pragma once
// loopctl read: one device's loops, once or pass after pass, as the table's
// text or as timestamped records, with each loop's summary at the end.

#include "cli/cli_args.h"

namespace loopmon::cli {

class TraceOutput;

// Returns the exit status: 128 + the signal's number when interrupted.
int read(const Arguments& args, TraceOutput* trace);

}  // namespace loopmon::cli
