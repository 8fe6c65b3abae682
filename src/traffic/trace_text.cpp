#include "traffic/trace_text.h"

#include <cstdio>
#include <utility>

#include "platform/system/local_time.h"
#include "traffic/frame_meaning.h"

namespace loopmon {

namespace {}  // namespace

std::string clockTime(int64_t wallMicros) {
  const LocalTime local = localTimeOf(static_cast<std::time_t>(wallMicros / 1'000'000));
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%06d", local.calendar.tm_hour,
                local.calendar.tm_min, local.calendar.tm_sec,
                static_cast<int>(wallMicros % 1'000'000));
  return text;
}

namespace {

std::string milliseconds(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", ms);
  return text;
}

std::string timing(const TraceRecord& r) {
  const auto first = msAfterRequest(r, r.firstByteMicros);
  const auto last = msAfterRequest(r, r.lastByteMicros);
  if (r.answerSize > 0 && last) {
    return (first ? milliseconds(*first) + ".." : "") + milliseconds(*last) + " ms";
  }
  const auto waited = msAfterRequest(r, r.readEndMicros);
  if (r.outcome == TraceOutcome::Silence && waited) return milliseconds(*waited) + " ms";
  return {};
}

// The outcome's word for machines and its words for people.
std::pair<const char*, const char*> outcomeNames(TraceOutcome outcome) {
  switch (outcome) {
    case TraceOutcome::Answer:
      return {"answer", "answer"};
    case TraceOutcome::Sent:
      return {"sent", "sent"};
    case TraceOutcome::Silence:
      return {"silence", "silence"};
    case TraceOutcome::Short:
      return {"short", "short"};
    case TraceOutcome::BadLength:
      return {"length", "length wrong"};
    case TraceOutcome::BadChecksum:
      return {"checksum", "checksum wrong"};
    case TraceOutcome::Echo:
      return {"echo", "echo"};
    case TraceOutcome::OtherAddress:
      return {"address", "from address"};
    case TraceOutcome::Malformed:
      return {"malformed", "not a frame"};
    case TraceOutcome::NotSent:
      break;
  }
  return {"unsent", "not sent"};
}

std::string outcomeWords(const TraceRecord& r) {
  const std::string words = outcomeNames(r.outcome).second;
  if (r.outcome != TraceOutcome::OtherAddress) return words;
  return words + " " + std::to_string(r.answer[FrameOffset::Address] & 0x7F);
}

// The plain bytes of a keyed frame: the request's Command and Data, the
// answer's Code and Data, XORed back.
Bytes plain(Bytes frame, const TraceRecord& r, FrameRole role) {
  if (!r.keyed) return frame;
  if (role == FrameRole::Answer) {
    unscrambleAnswer(frame, r.key);
  } else {
    for (size_t i = FrameOffset::Command; i + 1 < frame.size(); ++i) frame[i] ^= r.key;
  }
  return frame;
}

std::string meaning(const TraceRecord& r) {
  std::string text =
      frameMeaning(plain(r.requestBytes(), r, FrameRole::Request), FrameRole::Request);
  if (r.accepted) {
    const std::string news =
        frameMeaning(plain(r.answerBytes(), r, FrameRole::Answer), FrameRole::Answer);
    if (!news.empty()) text += " => " + news;
  }
  return text;
}

}  // namespace

std::optional<double> msAfterRequest(const TraceRecord& record, int64_t moment) {
  if (moment < 0 || record.requestEndMicros < 0) return std::nullopt;
  return static_cast<double>(moment - record.requestEndMicros) / 1000.0;
}

TraceLine describeRecord(const TraceRecord& record) {
  TraceLine line;
  line.time = clockTime(record.wallMicros);
  line.address = record.address();
  if (record.attempt != 0 && record.answerAwaited) {
    line.attempt = std::to_string(record.attempt) + "/" + std::to_string(record.attempts);
  }
  line.request = frameHex(record.request.data(), record.requestSize);
  line.outcome = outcomeWords(record);
  line.timing = timing(record);
  line.answer = frameHex(record.answer.data(), record.answerSize);
  line.meaning = meaning(record);
  return line;
}

std::string traceText(const TraceRecord& record) {
  const TraceLine line = describeRecord(record);
  std::string text = line.time + " addr " + std::to_string(line.address);
  if (!line.attempt.empty()) text += " try " + line.attempt;
  text += " " + line.request + " | " + line.outcome;
  if (!line.timing.empty()) text += " " + line.timing;
  if (!line.answer.empty()) text += " " + line.answer;
  if (!line.meaning.empty()) text += " | " + line.meaning;
  return text;
}

const char* outcomeKey(TraceOutcome outcome) {
  return outcomeNames(outcome).first;
}

std::string droppedText(uint64_t count) {
  return "trace: " + std::to_string(count) + (count == 1 ? " record" : " records") +
         " dropped (the reader fell behind)";
}

}  // namespace loopmon
