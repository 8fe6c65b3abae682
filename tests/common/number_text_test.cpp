#include "common/number_text.h"

#include <gtest/gtest.h>

#include <limits>

using namespace loopmon;

TEST(FormatFixed, RoundsFifteenDigitsHalfAwayFromZero) {
  // Resistances of a = 408, b = -1: 3.08, 3.25 and 1.55 (1.5499999999999998 in binary).
  EXPECT_EQ(FormatFixed(408.0 / 100 - 1, 1, '.'), "3.1");
  EXPECT_EQ(FormatFixed(408.0 / 96 - 1, 1, '.'), "3.3");
  EXPECT_EQ(FormatFixed(408.0 / 160 - 1, 1, '.'), "1.6");
  EXPECT_EQ(FormatFixed(408.0 / 160 - 1, 1, ','), "1,6");
  EXPECT_EQ(FormatFixed(-1.25, 1, ','), "-1,3");
  EXPECT_EQ(FormatFixed(9.96, 1, '.'), "10.0");
  EXPECT_EQ(FormatFixed(0.05, 1, '.'), "0.1");
  EXPECT_EQ(FormatFixed(0.0449, 1, '.'), "0.0");
  EXPECT_EQ(FormatFixed(-0.04, 1, '.'), "0.0") << "no minus sign on a zero";
  EXPECT_EQ(FormatFixed(0, 1, '.'), "0.0");
  EXPECT_EQ(FormatFixed(0.4, 0, '.'), "0");
  EXPECT_EQ(FormatFixed(0.5, 0, '.'), "1");
  EXPECT_EQ(FormatFixed(1.05, 2, ','), "1,05");
  EXPECT_EQ(FormatFixed(255 / 100.0, 2, '.'), "2.55");
  EXPECT_EQ(FormatFixed(123456789012345678.0, 1, '.'), "123456789012346000.0");
}

TEST(FormatFixed, OutOfFixedRange) {
  EXPECT_EQ(FormatFixed(1e20, 1, ','), "1E20");
  EXPECT_EQ(FormatFixed(-1.5e30, 1, ','), "-1,5E30");
  EXPECT_EQ(FormatFixed(std::numeric_limits<double>::infinity(), 1, '.'), "INF");
  EXPECT_EQ(FormatFixed(-std::numeric_limits<double>::infinity(), 1, '.'), "-INF");
  EXPECT_EQ(FormatFixed(std::numeric_limits<double>::quiet_NaN(), 1, '.'), "NAN");
}

TEST(FormatWidth, DeviceLineFields) {
  EXPECT_EQ(FormatIntWidth(5, 3), "  5");
  EXPECT_EQ(FormatIntWidth(127, 3), "127");
  EXPECT_EQ(FormatIntWidth(1234, 3), "1234");
  EXPECT_EQ(FormatFloatWidth(105 / 100.0, 3, 2, ','), "1,05");
  EXPECT_EQ(FormatFloatWidth(0, 3, 2, '.'), "0.00");
  EXPECT_EQ(FormatFloatWidth(1.5, 6, 1, '.'), "   1.5");
}

TEST(FloatToStr, GeneralFormatFifteenDigits) {
  EXPECT_EQ(FloatToStr(408, '.'), "408");
  EXPECT_EQ(FloatToStr(-1, ','), "-1");
  EXPECT_EQ(FloatToStr(415.577142857143, ','), "415,577142857143");
  EXPECT_EQ(FloatToStr(-0.0909090909090934, '.'), "-0.0909090909090934");
  EXPECT_EQ(FloatToStr(-1.01142857142857, '.'), "-1.01142857142857");
  EXPECT_EQ(FloatToStr(1.0 / 3, '.'), "0.333333333333333");
  EXPECT_EQ(FloatToStr(0.1 + 0.2, '.'), "0.3");
  EXPECT_EQ(FloatToStr(0, '.'), "0");
  EXPECT_EQ(FloatToStr(0.00001, ','), "0,00001");
  EXPECT_EQ(FloatToStr(999999999999999, '.'), "999999999999999");
  EXPECT_EQ(FloatToStr(1e15, '.'), "1E15");
  EXPECT_EQ(FloatToStr(1e-6, '.'), "1E-6");
  EXPECT_EQ(FloatToStr(1.5e20, ','), "1,5E20");
  EXPECT_EQ(FloatToStr(-2.5e-10, '.'), "-2.5E-10");
  EXPECT_EQ(FloatToStr(std::numeric_limits<double>::infinity(), '.'), "INF");
}

TEST(StrToFloat, AcceptsTheLibraryForms) {
  EXPECT_DOUBLE_EQ(StrToFloat("3,5", ','), 3.5);
  EXPECT_DOUBLE_EQ(StrToFloat("  3,5  ", ','), 3.5);
  EXPECT_DOUBLE_EQ(StrToFloat("3.5", '.'), 3.5);
  EXPECT_DOUBLE_EQ(StrToFloat("-1,5e-2", ','), -0.015);
  EXPECT_DOUBLE_EQ(StrToFloat("+2E3", '.'), 2000);
  EXPECT_DOUBLE_EQ(StrToFloat("1,", ','), 1);
  EXPECT_DOUBLE_EQ(StrToFloat(",5", ','), 0.5);
  EXPECT_DOUBLE_EQ(StrToFloat("1e-400", '.'), 0);
  for (double value : {408.0, -1.0, 415.577142857143, -0.0909090909090934, 1e-6, 1.5e20}) {
    EXPECT_EQ(StrToFloat(FloatToStr(value, ','), ','), value);
  }
}

TEST(StrToFloat, RejectsWithTheLibraryMessage) {
  const auto message = [](const std::string& text, char separator) {
    try {
      StrToFloat(text, separator);
    } catch (const ConversionError& error) {
      return std::string(error.what());
    }
    return std::string("accepted");
  };
  EXPECT_EQ(message("3.5", ','), "'3.5' is not a valid floating point value");
  EXPECT_EQ(message("3,5", '.'), "'3,5' is not a valid floating point value");
  EXPECT_EQ(message("", ','), "'' is not a valid floating point value");
  for (const char* text :
       {" ", "abc", "1e", "1e+", ",", "1,2,3", "1 2", "--1", "0x10", "1e400", "INF", "1,5кОм"}) {
    EXPECT_EQ(message(text, ','),
              std::string("'") + text + "' is not a valid floating point value");
  }
}

TEST(StrToInt, DecimalAndHexadecimal) {
  EXPECT_EQ(StrToInt("300"), 300);
  EXPECT_EQ(StrToInt("  12"), 12);
  EXPECT_EQ(StrToInt("-7"), -7);
  EXPECT_EQ(StrToInt("+7"), 7);
  EXPECT_EQ(StrToInt("$FF"), 255);
  EXPECT_EQ(StrToInt("0x1f"), 31);
  EXPECT_EQ(StrToInt("-$10"), -16);
  EXPECT_EQ(StrToInt("$FFFFFFFF"), -1);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
  for (const char* text : {"", " ", "12 ", "1.5", "1,5", "abc", "$", "0x", "$1G", "2147483648",
                           "-2147483649", "$100000000", "1e3"}) {
    try {
      StrToInt(text);
      ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const ConversionError& error) {
      EXPECT_EQ(error.what(), std::string("'") + text + "' is not a valid integer value");
    }
  }
}
