#pragma once
// A loop reading as a value: what one tick's answers say of one loop, decoded
// once. The loop table, the history, the survey and the records all take this
// value; the table's texts are one formatter over it, so nothing downstream
// ever parses a display text back.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "loops/coeffs.h"
#include "transport/frame.h"

namespace loopmon {

using WallTime = std::chrono::system_clock::time_point;

// Which request a reading answers: the loop ADC or the loop state.
enum class ReadingKind : uint8_t { Adc, State };

// What a reading says of the loop. Unanswered: the request failed or its
// answer cannot be the answer to it (the table shows "false"). NotShown:
// nothing to judge (a short answer "?", a state code without a text, a line
// device text that names no condition such as "откл." or "Wixo v.1.02").
enum class LoopCondition : uint8_t { Normal, Alarm, Open, Short, Unanswered, NotShown };
inline constexpr size_t LoopConditionCount = 6;

enum class AnswerStatus : uint8_t { Answered, Unanswered, ShortAnswer };

struct LoopReading {
  uint8_t address = 0;
  int loop = 0;
  WallTime time;
  ReadingKind kind = ReadingKind::Adc;
  AnswerStatus status = AnswerStatus::Answered;
  // The ADC reading or the state code (answered only).
  uint8_t value = 0;
  // A plain loop's ADC 1..254: a / ADC + b at full precision.
  std::optional<double> kiloOhms;
  // A line controller's number in the ADC view.
  bool lineDevice = false;
  // What its kind answer shows ("откл.", "Норма", "Пожар обрыв", ...); empty
  // when none.
  std::string lineText;
  // The box a line controller's answer raises ("Неизвестный тип устройства: 9").
  std::optional<std::string> message;
  LoopCondition condition = LoopCondition::Normal;

  bool answered() const { return status == AnswerStatus::Answered; }
  bool operator==(const LoopReading&) const = default;
};

// An answered ADC reading of a plain loop: 0 is open, 255 is short, anything
// else a resistance of a / ADC + b kilo-ohms.
LoopReading AdcReading(uint8_t address, int loop, WallTime time, uint8_t adc,
                       const Coefficients& coefficients);
// An answered ADC reading of a line controller's device with the text its kind
// answer shows: no resistance.
LoopReading LineDeviceReading(uint8_t address, int loop, WallTime time, uint8_t adc,
                              const std::string& text);
// An answered state reading: the alarm codes ("тревога", "п. тревога") are alarm.
LoopReading StateReading(uint8_t address, int loop, WallTime time, uint8_t code);

// What a tick asked and got back. The line device kind request follows only
// a line controller's answered loop ADC request.
struct LoopAnswers {
  bool loopAnswered = false;
  Bytes loop;
  bool lineAnswered = false;
  Bytes line;
};

struct LoopRequestOf {
  uint8_t address = 0;
  uint8_t deviceType = 0;
  int loop = 0;
  ReadingKind kind = ReadingKind::Adc;
  Coefficients coefficients;
};

// The one decoding of a tick's answers. An answer shorter than 5 bytes is a
// short answer ("?"); a longer one that cannot be the answer to its request
// (AnswerFitsRequest) reads as unanswered, like a failed request. The line
// device kind answer is decoded as it comes: its class 0 and an unexpected
// code have texts and boxes of their own.
LoopReading DecodeLoopReading(const LoopRequestOf& request, const LoopAnswers& answers,
                              WallTime time);

// The loop table's three cells for a reading; an unset cell keeps what it
// shows (a failed request leaves column 2 alone, the state view never
// touches it).
struct LoopCells {
  std::array<std::optional<std::string>, 3> columns;
};
LoopCells CellsOf(const LoopReading& reading, char decimalSeparator);

// The table's words for a condition: "Норма", "тревога", "Обрыв", "КЗ",
// "false"; empty for NotShown.
const char* ConditionText(LoopCondition condition);

// The words records and machines use: "normal", "alarm", "open", "short",
// "unanswered"; nullptr for NotShown, which a record keeps as null.
const char* ConditionName(LoopCondition condition);
std::optional<LoopCondition> ConditionFromName(std::string_view name);

// The colour every window and report marks a condition with; the normal one
// draws the resistance.
struct Rgb {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
  bool operator==(const Rgb&) const = default;
};
Rgb ConditionRgb(LoopCondition condition);

}  // namespace loopmon
