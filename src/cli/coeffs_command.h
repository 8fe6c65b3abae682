#pragma once
// loopctl coeffs: the coefficients a reading of a device type and version
// uses; and how they are printed, by calibrate too.

#include <string>

#include "cli/cli_args.h"
#include "loops/coeffs.h"

namespace loopmon::cli {

// "[section]" as the coefficients file has it.
void printSection(const std::string& section);

// "a=..." and "b=..." lines.
void printCoefficients(const Coefficients& coefficients);

// Returns the exit status; CliError for a type with no coefficients.
int coeffs(const Arguments& args);

}  // namespace loopmon::cli
