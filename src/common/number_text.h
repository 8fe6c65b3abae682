#pragma once
// Number texts as the Delphi-style run-time library writes and reads them.
// The texts are part of the system's interface (the loop table, the
// coefficients file, the device line), so they are reproduced exactly rather
// than left to the C++ library, whose rounding and exponent forms differ.
//
// Every function takes the decimal separator as a parameter; the default is
// the separator of the user's locale.

#include <stdexcept>
#include <string>

#include "platform/system/locale_info.h"

namespace loopmon {

// An error of the run-time library. what() is the message exactly as the
// application's general error handler shows it in its message box.
class RtlError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A text that is not a number.
class ConversionError : public RtlError {
 public:
  using RtlError::RtlError;
  // "'<text>' is not a valid floating point value"
  static ConversionError invalidFloat(const std::string& text);
  // "'<text>' is not a valid integer value"
  static ConversionError invalidInteger(const std::string& text);
};

// A floating-point exception of the arithmetic.
class MathError : public RtlError {
 public:
  using RtlError::RtlError;
  // "Floating point division by zero": a non-zero value divided by zero.
  static MathError divisionByZero();
  // "Invalid floating point operation": 0/0 and other undefined results.
  static MathError invalidOperation();
  // "Floating point overflow": a result beyond the double range.
  static MathError overflow();
};

// A profile file that the platform refused to write: "Unable to write to <path>".
class FileWriteError : public RtlError {
 public:
  explicit FileWriteError(const std::string& path);
};

// The "0.0" / "0.00" pattern: `decimals` digits after the separator, at least
// one before it. The value is first taken to 15 significant digits, as the
// run-time library does, and then rounded half away from zero, so 1.55 (which
// is 1.5499999999999998 in binary) gives "1.6". A value that rounds to zero has
// no minus sign. Values with more than 18 integer digits fall back to the
// general format, as the library does; infinities and NaN give "INF", "-INF", "NAN".
std::string FormatFixed(double value, int decimals, char separator = userDecimalSeparator());

// printf-style "%<width>.<decimals>f" of the library's Format (the "%3.2f" of
// the device line): FormatFixed, padded on the left with blanks to `width`.
std::string FormatFloatWidth(double value, int width, int decimals,
                             char separator = userDecimalSeparator());

// printf-style "%<width>d": right-aligned in `width` characters, never cut.
std::string FormatIntWidth(long long value, int width);

// The general format with 15 significant digits (FloatToStr): no trailing
// zeros, no separator for whole numbers, fixed notation for magnitudes of
// 0.00001 and more with at most 15 integer digits, otherwise mantissa, "E" and
// the exponent without "+" or leading zeros ("1E-6", "1.5E20", "-2.5E-10").
std::string FloatToStr(double value, char separator = userDecimalSeparator());

// Text to float (StrToFloat): blanks around the number allowed, an optional
// sign, digits with at most one `separator`, an optional exponent ("E" or "e",
// optional sign, digits). Nothing else is accepted: under a comma separator a
// point is an error. Throws ConversionError::invalidFloat with the original
// text; also for values beyond the double range.
double StrToFloat(const std::string& text, char separator = userDecimalSeparator());

// Text to 32-bit integer (StrToInt): leading blanks, an optional sign, then
// decimal digits or a hexadecimal number after "$", "0x" or "0X" (hexadecimal
// up to 32 bits, wrapping into the negative range like the library's Val).
// Throws ConversionError::invalidInteger with the original text, also on
// overflow and trailing characters.
int StrToInt(const std::string& text);

}  // namespace loopmon
