#include "cli/coeffs_command.h"

#include <cstdio>
#include <utility>

#include "cli/output.h"
#include "common/number_text.h"
#include "common/translation.h"

namespace loopmon::cli {

void printSection(const std::string& section) {
  printLine(stdout, "[" + section + "]");
}

void printCoefficients(const Coefficients& coefficients) {
  printLine(stdout, "a=" + FloatToStr(coefficients.a));
  printLine(stdout, "b=" + FloatToStr(coefficients.b));
}

int coeffs(const Arguments& args) {
  if (!args.plain().empty())
    throw UsageError(trWith("%s takes no words: %s", {"coeffs", args.plain().front()}));
  const auto type = static_cast<uint8_t>(parseNumber(args.required("--type"), 0, 255, "--type"));
  const auto version = static_cast<uint8_t>(parseDeviceVersion(args.required("--version")));
  const CoefficientsStore store;
  const Coefficients coefficients = store.Lookup(type, version);
  const auto points = store.LoadPoints(type, version);
  // The built-in table's 0 and 0 for other types would read every loop as
  // 0.0 kilo-ohms; a script asking for them is better told.
  if (!points && coefficients.a == 0 && coefficients.b == 0) {
    throw CliError("type " + std::to_string(type) +
                   " has no built-in coefficients and no section " +
                   CoefficientsSection(type, version) + " in " + store.path());
  }
  printSection(CoefficientsSection(type, version));
  if (points) {
    for (const auto& [key, text] :
         {std::pair{"ACP1", points->ACP1}, std::pair{"ACP2", points->ACP2},
          std::pair{"R1", points->R1}, std::pair{"R2", points->R2}}) {
      printLine(stdout, key + ("=" + text));
    }
  } else {
    printLine(stdout, "; built-in");
  }
  printCoefficients(coefficients);
  return 0;
}

}  // namespace loopmon::cli
