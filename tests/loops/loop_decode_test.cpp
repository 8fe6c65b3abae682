#include "loops/loop_decode.h"
#include "loops/loop_reading.h"

#include <gtest/gtest.h>

#include <map>

using namespace loopmon;

TEST(LoopDecode, StateTexts) {
  const std::map<int, std::string> states{
      {3, "тревога"},   {17, "не взятие"},     {24, "на охране"}, {37, "п. тревога"},
      {44, "внимание"}, {109, "не на охране"}, {187, "отключен"}};
  for (int code = 0; code <= 255; ++code) {
    const auto state = states.find(code);
    EXPECT_EQ(LoopStateText(static_cast<uint8_t>(code)), state != states.end() ? state->second : "")
        << code;
  }
}

// One tick's answers, decoded and formatted: the value and the three cells
// ("-" for a cell the reading leaves as it is).
TEST(LoopDecode, ReadingsAndTheirCells) {
  constexpr auto Adc = ReadingKind::Adc;
  constexpr auto State = ReadingKind::State;
  constexpr auto N = LoopCondition::Normal;
  constexpr auto A = LoopCondition::Alarm;
  constexpr auto O = LoopCondition::Open;
  constexpr auto S = LoopCondition::Short;
  constexpr auto U = LoopCondition::Unanswered;
  constexpr auto X = LoopCondition::NotShown;
  constexpr uint8_t Kind = BusAnswer::LineDevice;
  const Coefficients c{408, -1};
  const Bytes none;
  const struct {
    ReadingKind kind;
    uint8_t type;
    Coefficients coefficients;
    bool loopAnswered;
    Bytes loop;
    bool lineAnswered;
    Bytes line;
    char separator;
    LoopCondition condition;
    std::optional<double> kiloOhms;
    const char* cells[3];
    const char* message = nullptr;
  } cases[] = {
      {Adc, 1, c, true, {5, 6, 0x1C, 7, 0, 0}, false, none, ',', O, {}, {"-", "0", "Обрыв"}},
      {Adc, 1, c, true, {5, 6, 0x1C, 7, 1, 0}, false, none, '.', N, 407, {"-", "1", "407.0"}},
      // 3.08 rounded half away from zero, with the locale's separator.
      {Adc, 1, c, true, {5, 6, 0x1C, 7, 100, 0}, false, none, ',', N, 3.08, {"-", "100", "3,1"}},
      // 1.55 is 1.5499999999999998 in binary and still shows 1.6.
      {Adc, 2, c, true, {5, 6, 0x1C, 7, 160, 0}, false, none, '.', N, 1.55, {"-", "160", "1.6"}},
      {Adc,
       11,
       {-408, 0},
       true,
       {5, 6, 0x1C, 7, 254, 0},
       false,
       none,
       '.',
       N,
       -408.0 / 254,
       {"-", "254", "-1.6"}},
      {Adc, 4, c, true, {5, 6, 0x1C, 7, 255, 0}, false, none, ',', S, {}, {"-", "255", "КЗ"}},
      {Adc, 0, {}, true, {5, 6, 0x1C, 7, 50, 0}, false, none, ',', N, 0, {"-", "50", "0,0"}},
      {Adc,
       9,
       c,
       true,
       {5, 6, 0x1C, 7, 160, 0},
       true,
       {5, 6, Kind, 1, 5, 0},
       ',',
       A,
       {},
       {"-", "160", "Пожар замк."}},
      {Adc,
       9,
       c,
       true,
       {5, 6, 0x1C, 7, 140, 0},
       true,
       {5, 6, Kind, 1, 5, 0},
       ',',
       N,
       {},
       {"-", "140", "Норма"}},
      {Adc,
       9,
       c,
       true,
       {5, 6, 0x1C, 7, 10, 0},
       true,
       {5, 6, Kind, 1, 4, 0},
       ',',
       O,
       {},
       {"-", "10", "Обрыв"}},
      {Adc,
       9,
       c,
       true,
       {5, 6, 0x1C, 7, 2, 0},
       true,
       {5, 6, Kind, 1, 2, 0},
       ',',
       S,
       {},
       {"-", "2", "КЗ"}},
      {Adc,
       9,
       c,
       true,
       {5, 6, 0x1C, 7, 9, 0},
       true,
       {5, 6, Kind, 0, 1, 0},
       ',',
       X,
       {},
       {"-", "9", "откл."}},
      {Adc,
       9,
       c,
       true,
       {5, 6, 0x1C, 7, 9, 0},
       true,
       {5, 6, Kind, 1, 1, 0},
       ',',
       X,
       {},
       {"-", "9", "Wixo v.1.02"}},
      {Adc, 9, c, true, {5, 6, 0x1C, 7, 9, 0}, false, none, ',', X, {}, {"-", "9", ""}},
      {Adc,
       9,
       c,
       true,
       {5, 6, 0x1C, 7, 9, 0},
       true,
       {5, 6, Kind, 1, 9, 0},
       ',',
       X,
       {},
       {"-", "9", ""},
       "Неизвестный тип устройства: 9"},
      {Adc,
       9,
       c,
       true,
       {5, 6, 0x1C, 7, 9, 0},
       true,
       {5, 6, 0x0A, 1, 5, 0},
       ',',
       X,
       {},
       {"-", "9", ""},
       "Возможно команда не поддерживается: 10"},
      {State, 1, c, true, {5, 6, 0x1A, 7, 24, 0}, false, none, ',', N, {}, {"-", "на охране", "-"}},
      {State, 1, c, true, {5, 6, 0x1A, 7, 3, 0}, false, none, ',', A, {}, {"-", "тревога", "-"}},
      {State,
       9,
       c,
       true,
       {5, 6, 0x1A, 7, 37, 0},
       false,
       none,
       ',',
       A,
       {},
       {"-", "п. тревога", "-"}},
      {State, 1, c, true, {5, 6, 0x1A, 7, 0, 0}, false, none, ',', X, {}, {"-", "", "-"}},
      {State, 1, c, true, {5, 6, 0x1A, 7, 255, 0}, false, none, ',', X, {}, {"-", "", "-"}},
      // A failed request rewrites the number and keeps column 2.
      {Adc, 1, c, false, none, false, none, ',', U, {}, {"7", "false", "-"}},
      {State, 1, c, false, none, false, none, ',', U, {}, {"7", "false", "-"}},
      {Adc, 9, c, true, {5, 6, 0x1C, 7}, false, none, ',', X, {}, {"?", "?", "?"}},
      // Answers that cannot be the answer to the request show what a failed one shows.
      {Adc, 1, c, true, {5, 6, 0x1A, 7, 24, 0}, false, none, ',', U, {}, {"7", "false", "-"}},
      {Adc, 1, c, true, {6, 6, 0x1C, 7, 24, 0}, false, none, ',', U, {}, {"7", "false", "-"}},
      {Adc, 1, c, true, {5, 6, 0x1C, 7, 24}, false, none, ',', U, {}, {"7", "false", "-"}},
      {Adc, 1, c, true, {5, 7, 0x1C, 7, 24, 0, 0}, false, none, ',', U, {}, {"7", "false", "-"}},
      {Adc, 9, c, true, {5, 6, Kind, 1, 24, 0}, false, none, ',', U, {}, {"7", "false", "-"}},
      {State, 1, c, true, {4, 6, 0x1A, 7, 24, 0}, false, none, ',', U, {}, {"7", "false", "-"}},
      {Adc, 1, c, true, {5, 6, Kind, 4, 100, 0}, false, none, ',', N, 3.08, {"-", "100", "3,1"}},
      {State, 1, c, true, {5, 6}, false, none, ',', X, {}, {"?", "?", "?"}},
  };
  const WallTime time{std::chrono::seconds(1000)};
  for (const auto& t : cases) {
    const std::string which = std::string(t.kind == Adc ? "ADC" : "state") + " type " +
                              std::to_string(t.type) + " answer " +
                              (t.loop.size() > 4 ? std::to_string(t.loop[4]) : "none");
    const LoopReading reading =
        DecodeLoopReading({5, t.type, 7, t.kind, t.coefficients},
                          {t.loopAnswered, t.loop, t.lineAnswered, t.line}, time);
    EXPECT_EQ(reading.address, 5) << which;
    EXPECT_EQ(reading.loop, 7) << which;
    EXPECT_EQ(reading.time, time) << which;
    EXPECT_EQ(reading.kind, t.kind) << which;
    EXPECT_EQ(reading.condition, t.condition) << which;
    ASSERT_EQ(reading.kiloOhms.has_value(), t.kiloOhms.has_value()) << which;
    if (t.kiloOhms) {
      EXPECT_DOUBLE_EQ(*reading.kiloOhms, *t.kiloOhms) << which;
    }
    EXPECT_EQ(reading.message.value_or("-"), t.message ? t.message : "-") << which;
    const LoopCells cells = CellsOf(reading, t.separator);
    for (size_t column = 0; column < 3; ++column) {
      EXPECT_EQ(cells.columns[column].value_or("-"), t.cells[column])
          << which << " column " << column;
    }
  }
}

TEST(LoopDecode, ConditionNames) {
  for (size_t i = 0; i < LoopConditionCount; ++i) {
    const auto condition = static_cast<LoopCondition>(i);
    const char* name = ConditionName(condition);
    EXPECT_EQ(ConditionFromName(name ? name : "none"),
              name ? std::optional(condition) : std::nullopt);
  }
  EXPECT_FALSE(ConditionFromName("Норма"));
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
    const char* message = nullptr;
  } cases[] = {
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
      {{5, 6, Kind, 1}, "", nullptr},
  };
  for (const auto& c : cases) {
    const LineDeviceText decoded = DecodeLineDevice(c.answer, 160);
    EXPECT_EQ(decoded.text, c.text) << int(c.answer[3]) << "/" << int(c.answer.back());
    EXPECT_EQ(decoded.message.value_or("-"), c.message ? c.message : "-");
  }
}
