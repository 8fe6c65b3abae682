#include "common/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string_view>

#include "platform/system/text_scan.h"

namespace loopmon {

ConversionError ConversionError::invalidFloat(const std::string& text) {
  return ConversionError("'" + text + "' is not a valid floating point value");
}

ConversionError ConversionError::invalidInteger(const std::string& text) {
  return ConversionError("'" + text + "' is not a valid integer value");
}

MathError MathError::divisionByZero() {
  return MathError("Floating point division by zero");
}
MathError MathError::invalidOperation() {
  return MathError("Invalid floating point operation");
}
MathError MathError::overflow() {
  return MathError("Floating point overflow");
}

FileWriteError::FileWriteError(const std::string& path) : RtlError("Unable to write to " + path) {}

namespace {

// A finite non-zero magnitude as the run-time library holds it before
// formatting: 15 significant decimal digits d1 d2 ... d15 with the value
// 0.d1d2...d15 x 10^pointPos.
struct DecimalDigits {
  std::string digits;
  int pointPos = 0;
};

DecimalDigits toDecimalDigits(double magnitude) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.14e", magnitude);
  std::string_view text(buffer);
  DecimalDigits result;
  const size_t ePos = text.find('e');
  for (char c : text.substr(0, ePos)) {
    if (c >= '0' && c <= '9') result.digits += c;
  }
  int exponent = 0;
  std::from_chars(text.data() + ePos + 1 + (text[ePos + 1] == '+'), text.data() + text.size(),
                  exponent);
  result.pointPos = exponent + 1;
  return result;
}

std::string nonFiniteText(double value) {
  if (std::isnan(value)) return "NAN";
  return value < 0 ? "-INF" : "INF";
}

// Integer digits beyond which the fixed patterns give up and use the general format.
constexpr int MaxFixedIntegerDigits = 18;
constexpr int GeneralPrecision = 15;

}  // namespace

std::string FormatFixed(double value, int decimals, char separator) {
  if (!std::isfinite(value)) return nonFiniteText(value);
  std::string scaled;  // round(|value| x 10^decimals) in decimal digits
  if (value != 0) {
    const DecimalDigits d = toDecimalDigits(std::fabs(value));
    if (d.pointPos > MaxFixedIntegerDigits) return FloatToStr(value, separator);
    const int kept = d.pointPos + decimals;
    if (kept >= 0) {
      scaled = d.digits.substr(0, std::min<size_t>(kept, d.digits.size()));
      scaled.append(kept - scaled.size(), '0');
      if (kept < static_cast<int>(d.digits.size()) && d.digits[kept] >= '5') {
        int i = static_cast<int>(scaled.size()) - 1;
        for (; i >= 0 && scaled[i] == '9'; --i) scaled[i] = '0';
        if (i >= 0) {
          ++scaled[i];
        } else {
          scaled.insert(scaled.begin(), '1');
        }
      }
    }
  }
  const bool isZero = scaled.find_first_not_of('0') == std::string::npos;
  if (scaled.size() < static_cast<size_t>(decimals) + 1) {
    scaled.insert(0, decimals + 1 - scaled.size(), '0');
  }
  const size_t integerDigits = scaled.size() - decimals;
  size_t firstDigit = scaled.find_first_not_of('0');
  firstDigit = std::min(firstDigit, integerDigits - 1);
  std::string text = (value < 0 && !isZero) ? "-" : "";
  text += scaled.substr(firstDigit, integerDigits - firstDigit);
  if (decimals > 0) {
    text += separator;
    text += scaled.substr(integerDigits);
  }
  return text;
}

std::string FormatFloatWidth(double value, int width, int decimals, char separator) {
  std::string text = FormatFixed(value, decimals, separator);
  if (static_cast<int>(text.size()) < width) text.insert(0, width - text.size(), ' ');
  return text;
}

std::string FormatIntWidth(long long value, int width) {
  std::string text = std::to_string(value);
  if (static_cast<int>(text.size()) < width) text.insert(0, width - text.size(), ' ');
  return text;
}

std::string FloatToStr(double value, char separator) {
  if (!std::isfinite(value)) return nonFiniteText(value);
  if (value == 0) return "0";
  DecimalDigits d = toDecimalDigits(std::fabs(value));
  d.digits.erase(d.digits.find_last_not_of('0') + 1);
  const int exponent = d.pointPos - 1;
  std::string text = value < 0 ? "-" : "";
  // 0.00001 is the smallest magnitude the general format writes in fixed notation.
  if (exponent >= -5 && d.pointPos <= GeneralPrecision) {
    if (d.pointPos <= 0) {
      text += '0';
      text += separator;
      text.append(-d.pointPos, '0');
      text += d.digits;
    } else if (static_cast<int>(d.digits.size()) <= d.pointPos) {
      text += d.digits;
      text.append(d.pointPos - d.digits.size(), '0');
    } else {
      text += d.digits.substr(0, d.pointPos);
      text += separator;
      text += d.digits.substr(d.pointPos);
    }
    return text;
  }
  text += d.digits[0];
  if (d.digits.size() > 1) {
    text += separator;
    text += d.digits.substr(1);
  }
  text += 'E';
  text += std::to_string(exponent);
  return text;
}

double StrToFloat(const std::string& text, char separator) {
  const auto fail = [&] { return ConversionError::invalidFloat(text); };
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && text[i] == ' ') ++i;
  std::string normalized;  // the number in the form std::from_chars reads
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') normalized += '-';
    ++i;
  }
  const auto isDigit = [&](size_t at) { return at < n && text[at] >= '0' && text[at] <= '9'; };
  size_t mantissaDigits = 0;
  // Decimal exponent of the mantissa's first significant digit, to tell an
  // overflow from an underflow when the value leaves the double range.
  long magnitude = 0;
  bool significant = false;
  std::string digits;  // the mantissa's significant digits
  for (; isDigit(i); ++i, ++mantissaDigits) {
    normalized += text[i];
    significant = significant || text[i] != '0';
    if (significant) ++magnitude;
    if (significant) digits += text[i];
  }
  if (i < n && text[i] == separator) {
    normalized += '.';
    for (++i; isDigit(i); ++i, ++mantissaDigits) {
      normalized += text[i];
      if (!significant && text[i] == '0') --magnitude;
      significant = significant || text[i] != '0';
      if (significant) digits += text[i];
    }
  }
  if (mantissaDigits == 0) throw fail();
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    normalized += 'e';
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) normalized += text[i++];
    if (!isDigit(i)) throw fail();
    long exponent = 0;
    for (; isDigit(i); ++i) {
      normalized += text[i];
      exponent = std::min(exponent * 10 + (text[i] - '0'), 100000L);
    }
    magnitude += normalized[normalized.find('e') + 1] == '-' ? -exponent : exponent;
  }
  while (i < n && text[i] == ' ') ++i;
  if (i != n) throw fail();

  double value = 0;
  const auto [end, error] =
      std::from_chars(normalized.data(), normalized.data() + normalized.size(), value);
  if (error == std::errc::result_out_of_range) {
    if (!significant || magnitude <= 0) return 0;
    // The 15 digits of the general format round the largest doubles up past
    // the range, to at most 1.79769313486232E308: such a text, which this
    // module itself writes, reads back as the largest double.
    digits.erase(digits.find_last_not_of('0') + 1);
    if (magnitude == 309 && digits <= "179769313486232") {
      return normalized[0] == '-' ? -std::numeric_limits<double>::max()
                                  : std::numeric_limits<double>::max();
    }
    throw fail();
  }
  if (error != std::errc() || end != normalized.data() + normalized.size()) throw fail();
  return value;
}

int StrToInt(const std::string& text) {
  const auto fail = [&] { return ConversionError::invalidInteger(text); };
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && text[i] == ' ') ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < n && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == n) throw fail();
  // Hexadecimal fills all 32 bits; decimal stops at the signed range.
  const uint64_t limit = base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
  uint64_t magnitude = 0;
  for (; i < n; ++i) {
    const int digit = digitValue(text[i], base);
    if (digit < 0) throw fail();
    magnitude = magnitude * base + static_cast<unsigned>(digit);
    if (magnitude > limit) throw fail();
  }
  const auto bits = static_cast<uint32_t>(negative ? 0 - magnitude : magnitude);
  return static_cast<int32_t>(bits);
}

}  // namespace loopmon
