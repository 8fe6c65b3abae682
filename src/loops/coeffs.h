#pragma once
// The ADC-to-resistance coefficients: R = a / ADC + b kilo-ohms. They come from
// the profile file "ohmgauge.kft" beside the program, one section per device
// type and version ("1-160"), or from a built-in table for known types.

#include <cstdint>
#include <optional>
#include <string>

namespace loopmon {

struct Coefficients {
  double a = 0;
  double b = 0;
};

// The four texts of a calibration: the reference resistances in kilo-ohms and
// the ADC readings at them, exactly as typed (and as stored in the file).
struct CalibrationPoints {
  std::string ACP1;
  std::string ACP2;
  std::string R1;
  std::string R2;
};

// The built-in pair of a type and version byte; 0 and 0 for types without one.
Coefficients BuiltInCoefficients(uint8_t devType, uint8_t devVersion);

// "ohmgauge.kft" beside the executable, or in the user's folder when the
// executable's folder cannot be written.
std::string CoefficientsFilePath();

// "%d-%d" of a type code and a version byte, e.g. "1-160".
std::string CoefficientsSection(int devType, int devVersion);

// The two-point computation. R1 and R2 are converted with `separator`, ACP1 and
// ACP2 as integers reduced to their low 8 bits. Throws ConversionError for a
// text that is not a number and MathError when an ADC value is 0 or the two are
// equal (the model has no solution then).
Coefficients ComputeCoefficients(const CalibrationPoints& points, char separator);

class CoefficientsStore {
 public:
  // `decimalSeparator` unset: the user's locale separator, asked on every call.
  explicit CoefficientsStore(std::string path = CoefficientsFilePath(),
                             std::optional<char> decimalSeparator = std::nullopt);
  const std::string& path() const { return path_; }

  // The coefficients to read a device with. A section holding at least one key
  // is used as it stands: a missing, empty or malformed `a` or `b` then throws
  // ConversionError ("'' is not a valid floating point value") rather than
  // falling back to the built-in pair, so a broken calibration is noticed.
  Coefficients Lookup(uint8_t devType, uint8_t devVersion) const;

  // The stored texts of the section (each empty when its key is missing), or
  // nothing when the section holds no key.
  std::optional<CalibrationPoints> LoadPoints(uint8_t devType, uint8_t devVersion) const;

  // Computes the coefficients and stores ACP1, ACP2, R1, R2 (as given), a and b
  // (general format). The section is that of the selected device when both
  // `devType` and `devVersion` are non-zero; otherwise `entryTypeCode`, "-" and
  // `versionText` without its second character ("1,05" gives "11-105" for code
  // 11). Conversion and division errors are thrown before the file is touched.
  // The six keys are written in one replacement of the file: when the platform
  // refuses it, FileWriteError ("Unable to write to <path>") is thrown and the
  // file is left exactly as it was. Returns the section written.
  std::string Save(uint8_t devType, uint8_t devVersion, int entryTypeCode,
                   const std::string& versionText, const CalibrationPoints& points);

 private:
  char separator() const;

  std::string path_;
  std::optional<char> decimalSeparator_;
};

}  // namespace loopmon
