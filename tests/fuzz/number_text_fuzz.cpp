// Number texts: what the coefficients file, the loop table and the device line
// hold must read back as they were written.

#include <cmath>
#include <cstring>

#include "common/number_text.h"
#include "fuzz_check.h"

using namespace loopmon;
using fuzz::require;

namespace {

void writtenReadsBack(double value, char separator) {
  const std::string written = FloatToStr(value, separator);
  if (!std::isfinite(value)) return;
  const double back = StrToFloat(written, separator);
  require(FloatToStr(back, separator) == written, "a general-format text reads back as itself");
  for (int decimals = 0; decimals <= 3; ++decimals) {
    const std::string fixed = FormatFixed(value, decimals, separator);
    if (std::fabs(value) < 1e15) {
      const double step = std::pow(10.0, -decimals);
      // Rounded to 15 significant digits first, then to the decimals.
      const double tolerance = step / 2 + std::fabs(value) * 1e-14 + 1e-12;
      require(std::fabs(StrToFloat(fixed, separator) - value) <= tolerance,
              "a fixed text is the value rounded");
    }
    FormatFloatWidth(value, 3, decimals, separator);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = fuzz::textOf(data, size);
  for (char separator : {',', '.'}) {
    try {
      writtenReadsBack(StrToFloat(text, separator), separator);
    } catch (const ConversionError&) {
    }
  }
  try {
    const int n = StrToInt(text);
    require(StrToInt(std::to_string(n)) == n, "an integer's text reads back");
    FormatIntWidth(n, 3);
  } catch (const ConversionError&) {
  }
  if (size >= sizeof(double)) {
    double value;
    std::memcpy(&value, data, sizeof value);
    writtenReadsBack(value, ',');
  }
  return 0;
}
