#include "traffic/traffic_counters.h"

#include <algorithm>
#include <cstdio>

namespace loopmon {

namespace {

constexpr int64_t StepMicros = 10;
// Two seconds; what takes longer is counted there.
constexpr size_t Steps = 200'000;

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

std::vector<std::string> countersTable(const TrafficCounters& counters) {
  std::vector<std::string> lines{
      "addr requests answers silences damaged unsent retries failed median-ms worst-ms"};
  const auto ms = [](const std::optional<double>& value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value.value_or(0));
    return value ? std::string(text) : std::string("-");
  };
  for (const auto& [address, d] : counters.devices()) {
    char text[160];
    std::snprintf(
        text, sizeof text, "%4u %8llu %7llu %8llu %7llu %6llu %7llu %6llu %9s %8s", address,
        static_cast<unsigned long long>(d.requests), static_cast<unsigned long long>(d.answers),
        static_cast<unsigned long long>(d.silences), static_cast<unsigned long long>(d.damaged),
        static_cast<unsigned long long>(d.unsent), static_cast<unsigned long long>(d.retries),
        static_cast<unsigned long long>(d.failed), ms(d.medianAnswerMs()).c_str(),
        ms(d.worstAnswerMs()).c_str());
    lines.push_back(text);
  }
  return lines;
}

}  // namespace loopmon
