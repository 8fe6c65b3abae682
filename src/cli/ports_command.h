#pragma once
// loopctl ports: the serial ports, their COM names and what they are; --map
// lets a COM name stand for a device or a network line.

#include "cli/cli_args.h"

namespace loopmon::cli {

int ports(const Arguments& args);

}  // namespace loopmon::cli
