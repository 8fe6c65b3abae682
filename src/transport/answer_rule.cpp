#include "transport/answer_rule.h"

namespace loopmon {

namespace {

constexpr size_t FirstData = 3;
constexpr size_t SecondData = 4;
constexpr size_t RequestQuery = 5;  // the second Data byte of a request
constexpr uint8_t AddressBits = 0x7F;
constexpr uint8_t LineRefusalClass = 0;
constexpr uint8_t LineRefusalValue = 2;

bool lineAnswerOfClass(const Bytes& answer, uint8_t answerClass) {
  return answer.size() >= MinAnswerBytes && answer[FrameOffset::Code] == BusAnswer::LineDevice &&
         answer[FirstData] == answerClass;
}

}  // namespace

bool FromAskedAddress(uint8_t requestAddress, uint8_t answerAddress) {
  return (requestAddress & AddressBits) == (answerAddress & AddressBits);
}

bool IsAdcAnswer(const Bytes& answer) {
  if (answer.size() != MinAnswerBytes) return false;
  return answer[FrameOffset::Code] == BusAnswer::LoopAdc ||
         lineAnswerOfClass(answer, LineQuery::Reading);
}

bool IsAdcRefusal(const Bytes& answer) {
  return answer.size() == MinAnswerBytes && lineAnswerOfClass(answer, LineRefusalClass) &&
         answer[SecondData] == LineRefusalValue;
}

bool IsLoopKindAnswer(const Bytes& answer) {
  return lineAnswerOfClass(answer, LineQuery::Kind);
}

bool IsIdentityAnswer(const Bytes& answer) {
  return answer.size() >= MinAnswerBytes && answer[FrameOffset::Code] == BusAnswer::Identity;
}

bool AnswerFitsRequest(const Bytes& request, const Bytes& answer) {
  if (request.size() < MinAnswerBytes || answer.size() < MinAnswerBytes) return false;
  if (!FromAskedAddress(request[FrameOffset::Address], answer[FrameOffset::Address])) return false;
  switch (request[FrameOffset::Command]) {
    case BusCommand::LoopAdc:
      return IsAdcAnswer(answer);
    case BusCommand::Identify:
      return IsIdentityAnswer(answer);
    case BusCommand::LineDevice:
      if (request[RequestQuery] == LineQuery::Reading) return IsAdcAnswer(answer);
      if (request[RequestQuery] == LineQuery::Kind) return IsLoopKindAnswer(answer);
      return true;
    default:
      return true;
  }
}

}  // namespace loopmon
