#include "common/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

using namespace loopmon;

TEST(NumberText, FixedAndGeneralFormats) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::pair<std::string, std::string> cases[] = {
      {FormatFixed(-1.25, 1, ','), "-1,3"},
      {FormatFixed(9.96, 1, '.'), "10.0"},
      {FormatFixed(-0.04, 1, '.'), "0.0"},
      {FormatFixed(123456789012345678.0, 1, '.'), "123456789012346000.0"},
      {FormatFixed(-1.5e30, 1, ','), "-1,5E30"},
      {FormatFixed(-inf, 1, '.'), "-INF"},
      {FormatFixed(std::numeric_limits<double>::quiet_NaN(), 1, '.'), "NAN"},
      {FloatToStr(415.577142857143, ','), "415,577142857143"},
      {FloatToStr(-0.0909090909090934, '.'), "-0.0909090909090934"},
      {FloatToStr(0.1 + 0.2, '.'), "0.3"},
      {FloatToStr(0.00001, ','), "0,00001"},
      {FloatToStr(1e15, '.'), "1E15"},
      {FloatToStr(-2.5e-10, '.'), "-2.5E-10"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(text, expected);
}

TEST(NumberText, ConversionsTakeTheLibraryFormsAndRefuseWithItsMessages) {
  EXPECT_DOUBLE_EQ(StrToFloat("  -1,5e-2  ", ','), -0.015);
  EXPECT_DOUBLE_EQ(StrToFloat(",5", ','), 0.5);
  EXPECT_DOUBLE_EQ(StrToFloat("1e-400", '.'), 0);
  for (double value : {415.577142857143, -0.0909090909090934, 1.5e20}) {
    EXPECT_EQ(StrToFloat(FloatToStr(value, ','), ','), value);
  }
  EXPECT_EQ(StrToInt("  $FF"), 255);
  EXPECT_EQ(StrToInt("-$10"), -16);
  EXPECT_EQ(StrToInt("$FFFFFFFF"), -1);
  EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);

  const auto refusal = [](const std::function<void()>& convert) {
    try {
      convert();
    } catch (const ConversionError& error) {
      return std::string(error.what());
    }
    return std::string("accepted");
  };
  EXPECT_EQ(refusal([] { StrToFloat("3,5", '.'); }), "'3,5' is not a valid floating point value");
  for (std::string text : {"3.5", "", " ", "1e", "1,2,3", "1e400", "INF", "1,5кОм"}) {
    EXPECT_EQ(refusal([&] { StrToFloat(text, ','); }),
              "'" + text + "' is not a valid floating point value");
  }
  for (std::string text : {"", "12 ", "1.5", "$", "0x", "2147483648", "$100000000", "1e3"}) {
    EXPECT_EQ(refusal([&] { StrToInt(text); }), "'" + text + "' is not a valid integer value");
  }
}

TEST(NumberText, TheLargestDoublesReadBackFromTheirWrittenText) {
  // Their 15 digits round up past the double range ("1,79769313486232E308").
  const double largest = std::numeric_limits<double>::max();
  for (double value : {largest, -largest, std::nextafter(largest, 0.0)}) {
    const std::string written = FloatToStr(value, ',');
    EXPECT_EQ(FloatToStr(StrToFloat(written, ','), ','), written);
  }
  EXPECT_THROW(StrToFloat("1,79769313486233E308", ','), ConversionError);
}
