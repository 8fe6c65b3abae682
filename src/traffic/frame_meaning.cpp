#include "traffic/frame_meaning.h"

#include <cstdio>

#include "common/number_text.h"
#include "loops/loop_decode.h"
#include "session/session.h"

namespace loopmon {

namespace {

constexpr uint8_t AcknowledgeData1 = 0;
constexpr uint8_t AcknowledgeData2 = 1;

std::string hexByte(uint8_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

std::string requestMeaning(uint8_t command, uint8_t data1, uint8_t data2) {
  const std::string number = std::to_string(data1);
  switch (command) {
    case BusCommand::Presence:
      return "presence?";
    case BusCommand::Acknowledge:
      if (data1 == AcknowledgeData1 && data2 == AcknowledgeData2) return "acknowledgement";
      break;
    case BusCommand::Identify:
      return "description?";
    case BusCommand::LoopState:
      return "state of loop " + number + "?";
    case BusCommand::LoopAdc:
      return "ADC of loop " + number + "?";
    case BusCommand::LineDevice:
      if (data2 == LineQuery::Kind) return "kind of line device " + number + "?";
      if (data2 == LineQuery::Reading) return "reading of line device " + number + "?";
      return "line device " + number + ", query " + std::to_string(data2) + "?";
    default:
      break;
  }
  return "command " + hexByte(command);
}

std::string answerMeaning(uint8_t code, uint8_t data1, uint8_t data2) {
  switch (code) {
    case BusAnswer::Present:
      return "present";
    case BusAnswer::Identity:
      return "type " + std::to_string(data1) + " " + DeviceTypeName(data1) + ", version " +
             FormatFixed(data2 / 100.0, 2, '.');
    case BusAnswer::Refused:
      return "refused command " + hexByte(data1);
    case BusAnswer::LoopState: {
      const std::string text = LoopStateText(data2);
      return "loop " + std::to_string(data1) + ": state " + std::to_string(data2) +
             (text.empty() ? "" : " " + text);
    }
    case BusAnswer::LoopAdc:
      return "loop " + std::to_string(data1) + ": ADC " + std::to_string(data2);
    case BusAnswer::LineDevice:
      if (data1 == LineQuery::Reading) return "line device: reading " + std::to_string(data2);
      if (data1 == 0) return "line device: condition " + std::to_string(data2);
      return "line device: class " + std::to_string(data1) + ", kind " + std::to_string(data2);
    default:
      break;
  }
  if (isEventCode(code)) return "event " + std::to_string(code) + ": " + frameHex({data1, data2});
  return "code " + hexByte(code);
}

}  // namespace

std::string frameMeaning(const Bytes& frame, FrameRole role) {
  // Address, Length, Modifier, Command and a data byte; Address, Length, Code
  // and two data bytes.
  if (frame.size() < 5) return {};
  if (role == FrameRole::Request) {
    // A second data byte only where the Length says so, not the checksum.
    const bool twoData = frame[FrameOffset::Length] > 5 && frame.size() > 5;
    return requestMeaning(frame[FrameOffset::Command], frame[4], twoData ? frame[5] : 0);
  }
  // Every answer of this bus has Length 5: Code and two data bytes. An echo
  // of a request, for one, does not.
  if (frame[FrameOffset::Length] != 5) return {};
  return answerMeaning(frame[FrameOffset::Code], frame[3], frame[4]);
}

}  // namespace loopmon
