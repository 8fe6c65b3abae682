#include "traffic/frame_meaning.h"

#include <cstdio>

#include "common/number_text.h"
#include "loops/loop_decode.h"
#include "session/device_names.h"

namespace loopmon {

namespace {

constexpr uint8_t AcknowledgeData1 = 0;
constexpr uint8_t AcknowledgeData2 = 1;

std::string hexByte(uint8_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

std::string requestMeaning(uint8_t command, uint8_t data1, uint8_t data2, const TraceWording& w) {
  const std::string number = std::to_string(data1);
  switch (command) {
    case BusCommand::Presence:
      return say(w, "presence?", "присутствие?");
    case BusCommand::Acknowledge:
      if (data1 == AcknowledgeData1 && data2 == AcknowledgeData2)
        return say(w, "acknowledgement", "подтверждение");
      break;
    case BusCommand::Identify:
      return say(w, "description?", "описание?");
    case BusCommand::LoopState:
      return say(w, "state of loop ", "состояние ШС ") + number + "?";
    case BusCommand::LoopAdc:
      return say(w, "ADC of loop ", "АЦП ШС ") + number + "?";
    case BusCommand::LineDevice:
      if (data2 == LineQuery::Kind)
        return say(w, "kind of line device ", "вид линейного устройства ") + number + "?";
      if (data2 == LineQuery::Reading)
        return say(w, "reading of line device ", "показание линейного устройства ") + number + "?";
      return say(w, "line device ", "линейное устройство ") + number +
             say(w, ", query ", ", запрос ") + std::to_string(data2) + "?";
    default:
      break;
  }
  return say(w, "command ", "команда ") + hexByte(command);
}

std::string answerMeaning(uint8_t code, uint8_t data1, uint8_t data2, const TraceWording& w) {
  switch (code) {
    case BusAnswer::Present:
      return say(w, "present", "на связи");
    case BusAnswer::Identity:
      return say(w, "type ", "тип ") + std::to_string(data1) + " " + DeviceTypeName(data1) +
             say(w, ", version ", ", версия ") + FormatFixed(data2 / 100.0, 2, w.separator);
    case BusAnswer::Refused:
      return say(w, "refused command ", "отказ от команды ") + hexByte(data1);
    case BusAnswer::LoopState: {
      const std::string text = LoopStateText(data2);
      return say(w, "loop ", "ШС ") + std::to_string(data1) + say(w, ": state ", ": состояние ") +
             std::to_string(data2) + (text.empty() ? "" : " " + text);
    }
    case BusAnswer::LoopAdc:
      return say(w, "loop ", "ШС ") + std::to_string(data1) + say(w, ": ADC ", ": АЦП ") +
             std::to_string(data2);
    case BusAnswer::LineDevice:
      if (data1 == LineQuery::Reading)
        return say(w, "line device: reading ", "линейное устройство: показание ") +
               std::to_string(data2);
      if (data1 == 0)
        return say(w, "line device: condition ", "линейное устройство: состояние ") +
               std::to_string(data2);
      return say(w, "line device: class ", "линейное устройство: класс ") + std::to_string(data1) +
             say(w, ", kind ", ", вид ") + std::to_string(data2);
    default:
      break;
  }
  if (isEventCode(code))
    return say(w, "event ", "событие ") + std::to_string(code) + ": " + frameHex({data1, data2});
  return say(w, "code ", "код ") + hexByte(code);
}

}  // namespace

std::string frameMeaning(const Bytes& frame, FrameRole role, const TraceWording& wording) {
  // Address, Length, Modifier, Command and a data byte; Address, Length, Code
  // and two data bytes.
  if (frame.size() < 5) return {};
  if (role == FrameRole::Request) {
    // A second data byte only where the Length says so, not the checksum.
    const bool twoData = frame[FrameOffset::Length] > 5 && frame.size() > 5;
    return requestMeaning(frame[FrameOffset::Command], frame[FrameOffset::RequestData],
                          twoData ? frame[FrameOffset::RequestData + 1] : 0, wording);
  }
  // Every answer of this bus has Length 5: Code and two data bytes. An echo
  // of a request, for one, does not.
  if (frame[FrameOffset::Length] != 5) return {};
  return answerMeaning(frame[FrameOffset::Code], frame[FrameOffset::AnswerData],
                       frame[FrameOffset::AnswerData + 1], wording);
}

}  // namespace loopmon
