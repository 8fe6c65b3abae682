#include "loops/loop_decode.h"

#include <gtest/gtest.h>

using namespace loopmon;

TEST(LoopDecode, StatesAndResistances) {
  EXPECT_EQ(LoopStateText(109), "не на охране");
  EXPECT_EQ(LoopStateText(187), "отключен");
  EXPECT_EQ(LoopStateText(188), "");
  const Coefficients c{408, -1};
  EXPECT_EQ(ResistanceText(0, c, ','), "Обрыв");
  EXPECT_EQ(ResistanceText(255, c, ','), "КЗ");
  // 3.08, 3.25 and 1.55 (1.5499999999999998 in binary) rounded half away from zero.
  EXPECT_EQ(ResistanceText(100, c, ','), "3,1");
  EXPECT_EQ(ResistanceText(96, c, '.'), "3.3");
  EXPECT_EQ(ResistanceText(160, c, '.'), "1.6");
  EXPECT_EQ(ResistanceText(1, {0, 0}, ','), "0,0") << "unknown types read 0.0";
}

TEST(LoopDecode, LineDeviceAnswers) {
  constexpr uint8_t Kind = BusAnswer::LineDevice;
  const struct {
    Bytes answer;
    uint8_t adc;
    const char* text;
    const char* message;
  } cases[] = {
      {{5, 6, Kind, 0, 3}, 0, "? - 3", nullptr},
      {{5, 6, Kind, 0, 1}, 0, "откл.", nullptr},
      {{5, 6, Kind, 0, 2}, 0, "не поддерж.", nullptr},
      {{5, 6, Kind, 1, 7}, 0, "Yuzo v.1.05", nullptr},
      {{5, 6, Kind, 1, 3}, 100, "", nullptr},
      {{5, 6, Kind, 1, 2}, 3, "КЗ", nullptr},
      {{5, 6, Kind, 1, 2}, 4, "Норма", nullptr},
      {{5, 6, Kind, 1, 2}, 16, "Обрыв", nullptr},
      {{5, 6, Kind, 1, 4}, 119, "Обрыв", nullptr},
      {{5, 6, Kind, 1, 4}, 120, "Норма", nullptr},
      {{5, 6, Kind, 1, 4}, 156, "КЗ", nullptr},
      {{5, 6, Kind, 1, 5}, 81, "Обрыв", nullptr},
      {{5, 6, Kind, 1, 5}, 82, "Пожар обрыв", nullptr},
      {{5, 6, Kind, 1, 5}, 129, "Норма", nullptr},
      {{5, 6, Kind, 1, 5}, 154, "Пожар замк.", nullptr},
      {{5, 6, Kind, 1, 5}, 173, "КЗ", nullptr},
      {{5, 6, Kind, 1, 6}, 13, "Пожар обрыв", nullptr},
      {{5, 6, Kind, 1, 6}, 29, "Обрыв", nullptr},
      {{5, 6, Kind, 1, 8}, 100, "", "Неизвестный тип устройства: 8"},
      {{5, 6, Kind, 2, 5}, 160, "", nullptr},
      {{5, 6, 0x0A, 1, 5}, 160, "", "Возможно команда не поддерживается: 10"},
      {{5, 6, Kind, 1}, 160, "", nullptr},
  };
  for (const auto& c : cases) {
    const LineDeviceText decoded = DecodeLineDevice(c.answer, c.adc);
    EXPECT_EQ(decoded.text, c.text) << int(c.answer.back()) << " at " << int(c.adc);
    EXPECT_EQ(decoded.message.value_or("-"), c.message ? c.message : "-");
  }
}
