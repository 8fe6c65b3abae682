#pragma once
// loopctl calibrate: the coefficients from two reference points, stored for a
// device type and version when they are given.

#include "cli/cli_args.h"

namespace loopmon::cli {

int calibrate(const Arguments& args);

}  // namespace loopmon::cli
