#include "loops/coeffs.h"

#include <cmath>
#include <utility>

#include "common/number_text.h"
#include "platform/store/profile_file.h"
#include "platform/store/program_folder.h"
#include "platform/system/locale_info.h"

namespace loopmon {

std::string CoefficientsFilePath() {
  return besideProgramPath("ohmgauge.kft");
}

Coefficients BuiltInCoefficients(uint8_t devType, uint8_t devVersion) {
  switch (devType) {
    case 1:
      if (devVersion <= 154) return {408, -1};
      return {415.577142857143, -1.01142857142857};
    case 2:
      return {290.181818181818, -0.0909090909090934};
    case 4:
      return {296.830188679245, -0.905660377358491};
    case 11:
      return {265.254901960784, -0.980392156862745};
    default:
      return {0, 0};
  }
}

std::string CoefficientsSection(int devType, int devVersion) {
  return std::to_string(devType) + "-" + std::to_string(devVersion);
}

namespace {

// 1 / adc with the library's floating-point exceptions instead of an infinity.
long double reciprocal(int adc) {
  if (adc == 0) throw MathError::divisionByZero();
  return 1.0L / adc;
}

// `text` without its second character (a whole UTF-8 sequence, should one be typed).
std::string withoutSecondCharacter(const std::string& text) {
  const auto sequenceLength = [&](size_t at) {
    size_t length = 1;
    while (at + length < text.size() &&
           (static_cast<unsigned char>(text[at + length]) & 0xC0) == 0x80) {
      ++length;
    }
    return length;
  };
  if (text.empty()) return text;
  const size_t second = sequenceLength(0);
  if (second >= text.size()) return text;
  std::string result = text;
  result.erase(second, sequenceLength(second));
  return result;
}

}  // namespace

Coefficients ComputeCoefficients(const CalibrationPoints& points, char separator) {
  const long double r1 = StrToFloat(points.R1, separator);
  const long double r2 = StrToFloat(points.R2, separator);
  const int acp1 = StrToInt(points.ACP1) & 0xFF;
  const int acp2 = StrToInt(points.ACP2) & 0xFF;

  const long double slope = reciprocal(acp1) - reciprocal(acp2);
  const long double rise = r1 - r2;
  if (slope == 0) {
    throw rise == 0 ? MathError::invalidOperation() : MathError::divisionByZero();
  }
  Coefficients result;
  result.a = static_cast<double>(rise / slope);
  result.b = static_cast<double>(r1 - static_cast<long double>(result.a) / acp1);
  if (!std::isfinite(result.a) || !std::isfinite(result.b)) throw MathError::overflow();
  return result;
}

CoefficientsStore::CoefficientsStore(std::string path, std::optional<char> decimalSeparator)
    : path_(std::move(path)), decimalSeparator_(decimalSeparator) {}

char CoefficientsStore::separator() const {
  return decimalSeparator_ ? *decimalSeparator_ : userDecimalSeparator();
}

Coefficients CoefficientsStore::Lookup(uint8_t devType, uint8_t devVersion) const {
  const ProfileFile file(path_);
  const std::string section = CoefficientsSection(devType, devVersion);
  if (file.keys(section).empty()) return BuiltInCoefficients(devType, devVersion);
  Coefficients result;
  result.a = StrToFloat(file.readString(section, "a", ""), separator());
  result.b = StrToFloat(file.readString(section, "b", ""), separator());
  return result;
}

std::optional<CalibrationPoints> CoefficientsStore::LoadPoints(uint8_t devType,
                                                               uint8_t devVersion) const {
  const ProfileFile file(path_);
  const std::string section = CoefficientsSection(devType, devVersion);
  if (file.keys(section).empty()) return std::nullopt;
  CalibrationPoints points;
  points.ACP1 = file.readString(section, "ACP1", "");
  points.ACP2 = file.readString(section, "ACP2", "");
  points.R1 = file.readString(section, "R1", "");
  points.R2 = file.readString(section, "R2", "");
  return points;
}

std::string CoefficientsStore::Save(uint8_t devType, uint8_t devVersion, int entryTypeCode,
                                    const std::string& versionText,
                                    const CalibrationPoints& points) {
  const char sep = separator();
  const Coefficients computed = ComputeCoefficients(points, sep);
  const std::string section =
      (devType != 0 && devVersion != 0)
          ? CoefficientsSection(devType, devVersion)
          : std::to_string(entryTypeCode) + "-" + withoutSecondCharacter(versionText);
  // Key by key, a refused write could stop half-way and leave a section whose
  // a and b no longer match its points; one replacement of the file keeps the
  // section either as it was or complete.
  ProfileFile file(path_);
  const bool written = file.writeStrings(section, {{"ACP1", points.ACP1},
                                                   {"ACP2", points.ACP2},
                                                   {"R1", points.R1},
                                                   {"R2", points.R2},
                                                   {"a", FloatToStr(computed.a, sep)},
                                                   {"b", FloatToStr(computed.b, sep)}});
  if (!written) throw FileWriteError(path_);
  return section;
}

}  // namespace loopmon
