#include "loops/loop_decode.h"

namespace loopmon {

Bytes LoopRequest(uint8_t devAddr, uint8_t command, int loop, uint8_t data5) {
  return {devAddr, 0x06, 0x00, command, static_cast<uint8_t>(loop & 0xFF), data5};
}

std::string LoopStateText(uint8_t code) {
  switch (code) {
    case 3:
      return "тревога";
    case 17:
      return "не взятие";
    case 24:
      return "на охране";
    case 37:
      return "п. тревога";
    case 44:
      return "внимание";
    case 109:
      return "не на охране";
    case 187:
      return "отключен";
    default:
      return {};
  }
}

namespace {

std::string conditionText(uint8_t value) {
  switch (value) {
    case 1:
      return "откл.";
    case 2:
      return "не поддерж.";
    case 4:
      return "не готов";
    default:
      return "? - " + std::to_string(value);
  }
}

LineDeviceText kindText(uint8_t kind, uint8_t adc) {
  switch (kind) {
    case 1:
      return {"Wixo v.1.02", std::nullopt};
    case 2:
      return {adc <= 3 ? "КЗ" : adc <= 15 ? "Норма" : "Обрыв", std::nullopt};
    case 3:
      return {};
    case 4:
      return {adc <= 119 ? "Обрыв" : adc <= 155 ? "Норма" : "КЗ", std::nullopt};
    case 5:
      return {adc <= 81    ? "Обрыв"
              : adc <= 128 ? "Пожар обрыв"
              : adc <= 153 ? "Норма"
              : adc <= 172 ? "Пожар замк."
                           : "КЗ",
              std::nullopt};
    case 6:
      return {adc <= 3    ? "КЗ"
              : adc <= 12 ? "Норма"
              : adc <= 28 ? "Пожар обрыв"
                          : "Обрыв",
              std::nullopt};
    case 7:
      return {"Yuzo v.1.05", std::nullopt};
    default:
      return {"", "Неизвестный тип устройства: " + std::to_string(kind)};
  }
}

}  // namespace

LineDeviceText DecodeLineDevice(const Bytes& answer, uint8_t adc) {
  if (answer.size() < 5) return {};
  const uint8_t code = answer[FrameOffset::Code];
  const uint8_t answerClass = answer[AnswerField::LineClass];
  const uint8_t value = answer[AnswerField::LoopValue];
  if (code != BusAnswer::LineDevice) {
    return {"", "Возможно команда не поддерживается: " + std::to_string(code)};
  }
  if (answerClass == 0) return {conditionText(value), std::nullopt};
  if (answerClass == 1) return kindText(value, adc);
  return {};
}

}  // namespace loopmon
