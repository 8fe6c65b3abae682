#include "loops/loop_reading.h"

#include "common/number_text.h"
#include "loops/loop_decode.h"
#include "loops/loop_layout.h"
#include "transport/answer_rule.h"

namespace loopmon {

namespace {

// State codes the devices report for a loop in alarm.
constexpr uint8_t AlarmState = 3;
constexpr uint8_t FireAlarmState = 37;

struct ConditionRow {
  const char* text;
  const char* name;
  Rgb colour;
};

// Indexed by LoopCondition.
constexpr ConditionRow Conditions[LoopConditionCount] = {
    {"Норма", "normal", {0, 110, 40}},        {"тревога", "alarm", {230, 110, 0}},
    {"Обрыв", "open", {30, 90, 220}},         {"КЗ", "short", {170, 0, 170}},
    {"false", "unanswered", {110, 110, 110}}, {"", nullptr, {0, 110, 40}},
};

const ConditionRow& rowOf(LoopCondition condition) {
  return Conditions[static_cast<size_t>(condition)];
}

LoopCondition lineCondition(const std::string& text) {
  if (text == "Норма") return LoopCondition::Normal;
  if (text == "Обрыв") return LoopCondition::Open;
  if (text == "КЗ") return LoopCondition::Short;
  if (text == "Пожар обрыв" || text == "Пожар замк.") return LoopCondition::Alarm;
  return LoopCondition::NotShown;
}

LoopReading unanswered(const LoopRequestOf& request, WallTime time, AnswerStatus status) {
  LoopReading reading;
  reading.address = request.address;
  reading.loop = request.loop;
  reading.time = time;
  reading.kind = request.kind;
  reading.status = status;
  reading.condition =
      status == AnswerStatus::Unanswered ? LoopCondition::Unanswered : LoopCondition::NotShown;
  return reading;
}

}  // namespace

LoopReading AdcReading(uint8_t address, int loop, WallTime time, uint8_t adc,
                       const Coefficients& coefficients) {
  LoopReading reading;
  reading.address = address;
  reading.loop = loop;
  reading.time = time;
  reading.value = adc;
  if (adc == 0) {
    reading.condition = LoopCondition::Open;
  } else if (adc == 255) {
    reading.condition = LoopCondition::Short;
  } else {
    reading.kiloOhms = coefficients.a / adc + coefficients.b;
  }
  return reading;
}

LoopReading LineDeviceReading(uint8_t address, int loop, WallTime time, uint8_t adc,
                              const std::string& text) {
  LoopReading reading;
  reading.address = address;
  reading.loop = loop;
  reading.time = time;
  reading.value = adc;
  reading.lineDevice = true;
  reading.lineText = text;
  reading.condition = lineCondition(text);
  return reading;
}

LoopReading StateReading(uint8_t address, int loop, WallTime time, uint8_t code) {
  LoopReading reading;
  reading.address = address;
  reading.loop = loop;
  reading.time = time;
  reading.kind = ReadingKind::State;
  reading.value = code;
  if (code == AlarmState || code == FireAlarmState) {
    reading.condition = LoopCondition::Alarm;
  } else if (LoopStateText(code).empty()) {
    reading.condition = LoopCondition::NotShown;
  }
  return reading;
}

LoopReading DecodeLoopReading(const LoopRequestOf& request, const LoopAnswers& answers,
                              WallTime time) {
  if (!answers.loopAnswered) return unanswered(request, time, AnswerStatus::Unanswered);
  if (answers.loop.size() < 5) return unanswered(request, time, AnswerStatus::ShortAnswer);
  // An answer owed to another request (a late one, another device's, another
  // code) shows no value at all rather than a wrong one.
  const bool adc = request.kind == ReadingKind::Adc;
  const Bytes asked =
      LoopRequest(request.address, adc ? BusCommand::LoopAdc : BusCommand::LoopState, request.loop);
  if (!AnswerFitsRequest(asked, answers.loop)) {
    return unanswered(request, time, AnswerStatus::Unanswered);
  }
  const uint8_t value = answers.loop[AnswerField::LoopValue];
  if (!adc) {
    return StateReading(request.address, request.loop, time, value);
  }
  if (request.deviceType != LineControllerType) {
    return AdcReading(request.address, request.loop, time, value, request.coefficients);
  }
  // The controller leaves the text empty when its device does not answer;
  // the table already says enough, so no box interrupts the cycle for it.
  LineDeviceText decoded;
  if (answers.lineAnswered) decoded = DecodeLineDevice(answers.line, value);
  LoopReading reading = LineDeviceReading(request.address, request.loop, time, value, decoded.text);
  reading.message = std::move(decoded.message);
  return reading;
}

LoopCells CellsOf(const LoopReading& reading, char decimalSeparator) {
  LoopCells cells;
  auto& [number, first, second] = cells.columns;
  switch (reading.status) {
    case AnswerStatus::Unanswered:
      number = std::to_string(reading.loop);
      first = "false";
      return cells;
    case AnswerStatus::ShortAnswer:
      number = first = second = "?";
      return cells;
    case AnswerStatus::Answered:
      break;
  }
  if (reading.kind == ReadingKind::State) {
    first = LoopStateText(reading.value);
    return cells;
  }
  first = std::to_string(reading.value);
  if (reading.lineDevice) {
    second = reading.lineText;
  } else if (reading.kiloOhms) {
    second = FormatFixed(*reading.kiloOhms, 1, decimalSeparator);
  } else {
    second = ConditionText(reading.condition);
  }
  return cells;
}

const char* ConditionText(LoopCondition condition) {
  return rowOf(condition).text;
}

const char* ConditionName(LoopCondition condition) {
  return rowOf(condition).name;
}

std::optional<LoopCondition> ConditionFromName(std::string_view name) {
  for (size_t i = 0; i < LoopConditionCount; ++i) {
    if (Conditions[i].name != nullptr && name == Conditions[i].name) {
      return static_cast<LoopCondition>(i);
    }
  }
  return std::nullopt;
}

Rgb ConditionRgb(LoopCondition condition) {
  return rowOf(condition).colour;
}

}  // namespace loopmon
