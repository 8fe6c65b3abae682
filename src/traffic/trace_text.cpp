#include "traffic/trace_text.h"

#include <cstdio>

#include "common/number_text.h"
#include "platform/system/local_time.h"
#include "traffic/frame_meaning.h"

namespace loopmon {

std::string clockTime(int64_t wallMicros) {
  const LocalTime local = localTimeOf(static_cast<std::time_t>(wallMicros / 1'000'000));
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%06d", local.calendar.tm_hour,
                local.calendar.tm_min, local.calendar.tm_sec,
                static_cast<int>(wallMicros % 1'000'000));
  return text;
}

namespace {

std::string timing(const TraceRecord& r, const TraceWording& w) {
  // Not printf's %.1f: its separator is the process locale's, which a
  // toolkit may have set to the user's behind our back.
  const auto ms = [&w](double value) { return FormatFixed(value, 1, w.separator); };
  const std::string unit = say(w, " ms", " мс");
  const auto first = msAfterRequest(r, r.firstByteMicros);
  const auto last = msAfterRequest(r, r.lastByteMicros);
  if (r.answerSize > 0 && last) return (first ? ms(*first) + ".." : "") + ms(*last) + unit;
  const auto waited = msAfterRequest(r, r.readEndMicros);
  if (r.outcome == TraceOutcome::Silence && waited) return ms(*waited) + unit;
  return {};
}

struct OutcomeNames {
  const char* key;      // for machines
  const char* english;  // for people
  const char* russian;
};

OutcomeNames outcomeNames(TraceOutcome outcome) {
  switch (outcome) {
    case TraceOutcome::Answer:
      return {"answer", "answer", "ответ"};
    case TraceOutcome::Sent:
      return {"sent", "sent", "послан"};
    case TraceOutcome::Silence:
      return {"silence", "silence", "молчание"};
    case TraceOutcome::Short:
      return {"short", "short", "короткий"};
    case TraceOutcome::BadLength:
      return {"length", "length wrong", "неверная длина"};
    case TraceOutcome::BadChecksum:
      return {"checksum", "checksum wrong", "неверная контрольная сумма"};
    case TraceOutcome::Echo:
      return {"echo", "echo", "эхо"};
    case TraceOutcome::OtherAddress:
      return {"address", "from address", "от адреса"};
    case TraceOutcome::Malformed:
      return {"malformed", "not a frame", "не кадр"};
    case TraceOutcome::NotSent:
      break;
  }
  return {"unsent", "not sent", "не послан"};
}

std::string outcomeWords(const TraceRecord& r, const TraceWording& w) {
  const OutcomeNames names = outcomeNames(r.outcome);
  const std::string words = say(w, names.english, names.russian);
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

std::string meaning(const TraceRecord& r, const TraceWording& w) {
  std::string text =
      frameMeaning(plain(r.requestBytes(), r, FrameRole::Request), FrameRole::Request, w);
  if (r.accepted) {
    const std::string news =
        frameMeaning(plain(r.answerBytes(), r, FrameRole::Answer), FrameRole::Answer, w);
    if (!news.empty()) text += " => " + news;
  }
  return text;
}

}  // namespace

std::optional<double> msAfterRequest(const TraceRecord& record, int64_t moment) {
  if (moment < 0 || record.requestEndMicros < 0) return std::nullopt;
  return static_cast<double>(moment - record.requestEndMicros) / 1000.0;
}

TraceLine describeRecord(const TraceRecord& record, const TraceWording& wording) {
  TraceLine line;
  line.time = clockTime(record.wallMicros);
  line.address = record.address();
  if (record.attempt != 0 && record.answerAwaited) {
    line.attempt = std::to_string(record.attempt) + "/" + std::to_string(record.attempts);
  }
  line.request = frameHex(record.request.data(), record.requestSize);
  line.outcome = outcomeWords(record, wording);
  line.timing = timing(record, wording);
  line.answer = frameHex(record.answer.data(), record.answerSize);
  line.meaning = meaning(record, wording);
  return line;
}

std::string traceText(const TraceRecord& record, const TraceWording& wording) {
  const TraceLine line = describeRecord(record, wording);
  std::string text = line.time + say(wording, " addr ", " адрес ") + std::to_string(line.address);
  if (!line.attempt.empty()) text += say(wording, " try ", " попытка ") + line.attempt;
  text += " " + line.request + " | " + line.outcome;
  if (!line.timing.empty()) text += " " + line.timing;
  if (!line.answer.empty()) text += " " + line.answer;
  if (!line.meaning.empty()) text += " | " + line.meaning;
  return text;
}

const char* outcomeKey(TraceOutcome outcome) {
  return outcomeNames(outcome).key;
}

std::string droppedText(uint64_t count, const TraceWording& wording) {
  if (wording.russian) {
    return "обмен: пропущено записей: " + std::to_string(count) + " (чтение не успевало)";
  }
  return "trace: " + std::to_string(count) + (count == 1 ? " record" : " records") +
         " dropped (the reader fell behind)";
}

}  // namespace loopmon
