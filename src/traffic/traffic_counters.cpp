#include "traffic/traffic_counters.h"

#include <algorithm>
#include <array>

#include "common/number_text.h"

namespace loopmon {

namespace {

constexpr int64_t StepMicros = 10;
// Two seconds; what takes longer is counted there.
constexpr size_t Steps = 200'000;

// Characters, not bytes, for lining up columns.
size_t utf8Length(std::string_view text) {
  return static_cast<size_t>(std::ranges::count_if(
      text, [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace

std::optional<double> DeviceTraffic::medianAnswerMs() const {
  uint64_t seen = 0;
  for (size_t step = 0; step < answerTimes_.size(); ++step) {
    seen += answerTimes_[step];
    if (2 * seen >= answers) return (static_cast<double>(step) + 0.5) * StepMicros / 1000.0;
  }
  return std::nullopt;
}

std::optional<double> DeviceTraffic::worstAnswerMs() const {
  if (worstMicros_ < 0) return std::nullopt;
  return static_cast<double>(worstMicros_) / 1000.0;
}

void TrafficCounters::add(const TraceRecord& record) {
  // Frames that await nothing, and broadcasts, which nobody answers.
  if (!record.answerAwaited || record.outcome == TraceOutcome::Sent) return;
  DeviceTraffic& device = devices_[record.address()];
  ++device.attempts;
  if (record.attempt > 1) {
    ++device.retries;
  } else {
    ++device.requests;
  }
  switch (record.outcome) {
    case TraceOutcome::Answer: {
      ++device.answers;
      const int64_t micros = std::max<int64_t>(0, record.lastByteMicros - record.requestEndMicros);
      const size_t step = std::min<size_t>(static_cast<size_t>(micros / StepMicros), Steps - 1);
      if (device.answerTimes_.size() <= step) device.answerTimes_.resize(step + 1);
      ++device.answerTimes_[step];
      device.worstMicros_ = std::max(device.worstMicros_, micros);
      break;
    }
    case TraceOutcome::Silence:
      ++device.silences;
      break;
    case TraceOutcome::NotSent:
      ++device.unsent;
      break;
    default:
      ++device.damaged;
      break;
  }
  if (!record.accepted && record.attempt == record.attempts) ++device.failed;
}

std::vector<std::string> countersTable(const TrafficCounters& counters,
                                       const TraceWording& wording) {
  // Each column as wide as its heading, the numbers to its right edge.
  const std::array<const char*, 10> headings =
      wording.russian
          ? std::array<const char*, 10>{"адр.",       "запросов",  "ответов",  "молчаний",
                                        "искажено",   "непослано", "повторов", "неудач",
                                        "медиана-мс", "худшее-мс"}
          : std::array<const char*, 10>{"addr",   "requests", "answers", "silences",  "damaged",
                                        "unsent", "retries",  "failed",  "median-ms", "worst-ms"};
  const auto row = [&headings](const std::array<std::string, 10>& cells) {
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) {
      const size_t width = utf8Length(headings[i]);
      if (i != 0) line += ' ';
      if (cells[i].size() < width) line.append(width - cells[i].size(), ' ');
      line += cells[i];
    }
    return line;
  };
  std::array<std::string, 10> heading;
  std::copy(headings.begin(), headings.end(), heading.begin());
  std::vector<std::string> lines{row(heading)};
  // Not printf's %.1f, whose separator a toolkit may have set behind our back.
  const auto ms = [&wording](const std::optional<double>& value) {
    return value ? FormatFixed(*value, 1, wording.separator) : std::string("-");
  };
  for (const auto& [address, d] : counters.devices()) {
    lines.push_back(
        row({std::to_string(address), std::to_string(d.requests), std::to_string(d.answers),
             std::to_string(d.silences), std::to_string(d.damaged), std::to_string(d.unsent),
             std::to_string(d.retries), std::to_string(d.failed), ms(d.medianAnswerMs()),
             ms(d.worstAnswerMs())}));
  }
  return lines;
}

}  // namespace loopmon
