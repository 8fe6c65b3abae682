#include "cli/calibrate_command.h"

#include <string>

#include "cli/coeffs_command.h"
#include "common/number_text.h"
#include "common/translation.h"
#include "platform/system/locale_info.h"

namespace loopmon::cli {

int calibrate(const Arguments& args) {
  if (!args.plain().empty())
    throw UsageError(trWith("%s takes no words: %s", {"calibrate", args.plain().front()}));
  if (args.has("--type") != args.has("--version")) {
    throw UsageError(tr("--type and --version go together"));
  }
  // The resistances are stored as the dialog stores them: with the locale's
  // separator, whichever of the two was typed.
  const char separator = userDecimalSeparator();
  const CalibrationPoints points{args.required("--acp1"), args.required("--acp2"),
                                 withDecimalSeparator(args.required("--r1"), separator),
                                 withDecimalSeparator(args.required("--r2"), separator)};
  Coefficients coefficients;
  try {
    coefficients = ComputeCoefficients(points, separator);
  } catch (const RtlError& error) {
    throw UsageError(error.what());
  }
  if (!args.has("--type")) {
    printCoefficients(coefficients);
    return 0;
  }
  const int type = parseNumber(args.required("--type"), 0, 255, "--type");
  const int version = parseDeviceVersion(args.required("--version"));
  // The dialog's version text is d,dd and loses its second character; the
  // decimal digits with one character put after the first give back exactly
  // the version's digits, also for the type or version 0 that name no device.
  std::string versionText = std::to_string(version);
  versionText.insert(1, 1, separator);
  CoefficientsStore store;
  const std::string section = store.Save(static_cast<uint8_t>(type), static_cast<uint8_t>(version),
                                         type, versionText, points);
  printSection(section);
  printCoefficients(coefficients);
  return 0;
}

}  // namespace loopmon::cli
