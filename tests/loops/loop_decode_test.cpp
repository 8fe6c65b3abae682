#include "loops/loop_decode.h"

#include <gtest/gtest.h>

#include <map>

using namespace loopmon;

TEST(LoopDecode, StatesAndResistances) {
  const std::map<int, std::string> states{
      {3, "тревога"},   {17, "не взятие"},     {24, "на охране"}, {37, "п. тревога"},
      {44, "внимание"}, {109, "не на охране"}, {187, "отключен"}};
  for (int code = 0; code <= 255; ++code) {
    const auto state = states.find(code);
    EXPECT_EQ(LoopStateText(static_cast<uint8_t>(code)), state != states.end() ? state->second : "")
        << code;
  }

  const Coefficients c{408, -1};
  EXPECT_EQ(ResistanceText(0, c, ','), "Обрыв");
  EXPECT_EQ(ResistanceText(255, c, ','), "КЗ");
  // 3.08, 3.25 and 1.55 (1.5499999999999998 in binary) rounded half away from zero.
  EXPECT_EQ(ResistanceText(100, c, ','), "3,1");
  EXPECT_EQ(ResistanceText(96, c, '.'), "3.3");
  EXPECT_EQ(ResistanceText(160, c, '.'), "1.6");
  // Every reading inside 1..254 is a number, negative or large as it may be.
  EXPECT_EQ(ResistanceText(1, c, '.'), "407.0");
  EXPECT_EQ(ResistanceText(254, {-408, 0}, '.'), "-1.6");
  EXPECT_EQ(ResistanceText(1, {0, 0}, ','), "0,0") << "unknown types read 0.0";
}

TEST(LoopDecode, LineDeviceAnswers) {
  constexpr uint8_t Kind = BusAnswer::LineDevice;
  // Each range of a kind checked at both of its ends.
  const struct {
    uint8_t kind;
    uint8_t first, last;
    const char* text;
  } ranges[] = {
      {1, 0, 255, "Wixo v.1.02"},  {2, 0, 3, "КЗ"},        {2, 4, 15, "Норма"},
      {2, 16, 255, "Обрыв"},       {3, 0, 255, ""},        {4, 0, 119, "Обрыв"},
      {4, 120, 155, "Норма"},      {4, 156, 255, "КЗ"},    {5, 0, 81, "Обрыв"},
      {5, 82, 128, "Пожар обрыв"}, {5, 129, 153, "Норма"}, {5, 154, 172, "Пожар замк."},
      {5, 173, 255, "КЗ"},         {6, 0, 3, "КЗ"},        {6, 4, 12, "Норма"},
      {6, 13, 28, "Пожар обрыв"},  {6, 29, 255, "Обрыв"},  {7, 0, 255, "Yuzo v.1.05"},
  };
  for (const auto& range : ranges) {
    for (const uint8_t adc : {range.first, range.last}) {
      const LineDeviceText decoded = DecodeLineDevice({5, 6, Kind, 1, range.kind}, adc);
      EXPECT_EQ(decoded.text, range.text) << "kind " << int(range.kind) << " at " << int(adc);
      EXPECT_FALSE(decoded.message);
    }
  }

  const struct {
    Bytes answer;
    const char* text;
    const char* message;
  } cases[] = {
      {{5, 6, Kind, 0, 1}, "откл.", nullptr},
      {{5, 6, Kind, 0, 2}, "не поддерж.", nullptr},
      {{5, 6, Kind, 0, 4}, "не готов", nullptr},
      {{5, 6, Kind, 0, 3}, "? - 3", nullptr},
      {{5, 6, Kind, 0, 0}, "? - 0", nullptr},
      {{5, 6, Kind, 0, 255}, "? - 255", nullptr},
      {{5, 6, Kind, 1, 0}, "", "Неизвестный тип устройства: 0"},
      {{5, 6, Kind, 1, 8}, "", "Неизвестный тип устройства: 8"},
      {{5, 6, Kind, 1, 255}, "", "Неизвестный тип устройства: 255"},
      {{5, 6, Kind, 2, 5}, "", nullptr},
      {{5, 6, Kind, 255, 1}, "", nullptr},
      {{5, 6, 0x0A, 1, 5}, "", "Возможно команда не поддерживается: 10"},
      {{5, 6, Kind, 1}, "", nullptr},
  };
  for (const auto& c : cases) {
    const LineDeviceText decoded = DecodeLineDevice(c.answer, 160);
    EXPECT_EQ(decoded.text, c.text) << int(c.answer[3]) << "/" << int(c.answer.back());
    EXPECT_EQ(decoded.message.value_or("-"), c.message ? c.message : "-");
  }
}
