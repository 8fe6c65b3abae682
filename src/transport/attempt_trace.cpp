#include "transport/attempt_trace.h"

#include <algorithm>
#include <chrono>

namespace loopmon {

namespace {

// The tail of a request that, found at the start of what came back, marks it
// as the converter's echo: fewer could be a device's bytes by chance.
constexpr size_t EchoTailBytes = 3;

int64_t microsSinceEpoch(std::chrono::system_clock::time_point moment) {
  return std::chrono::duration_cast<std::chrono::microseconds>(moment.time_since_epoch()).count();
}

}  // namespace

int64_t AttemptTrace::steadyMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

TraceRoute AttemptTrace::lineRoute(const BusState& bus) {
  if (bus.HasDriver()) return TraceRoute::Driver;
  return bus.Port && bus.Port->isRemote() ? TraceRoute::Remote : TraceRoute::Serial;
}

void AttemptTrace::begin(BusState& bus, const Bytes& request, bool answerAwaited) {
  TraceRecord& r = record_.emplace();
  const TraceRequest& current = bus.Trace.current;
  // An exchange made outside a request of the session is a request of its own.
  r.exchange = current.attempt != 0 ? current.exchange : bus.Trace.nextExchange();
  r.attempt = current.attempt;
  r.attempts = current.attempts;
  r.answerAwaited = answerAwaited;
  r.wallMicros = microsSinceEpoch(std::chrono::system_clock::now());
  r.requestSize = static_cast<uint8_t>(std::min(request.size(), r.request.size()));
  std::copy_n(request.begin(), r.requestSize, r.request.begin());
}

void AttemptTrace::markSent(const Bytes& frame, std::optional<uint8_t> key, TraceRoute route,
                            bool onWire) {
  TraceRecord& r = *record_;
  r.route = route;
  r.keyed = key.has_value();
  r.key = key.value_or(0);
  r.requestSize = static_cast<uint8_t>(std::min(frame.size(), r.request.size()));
  std::copy_n(frame.begin(), r.requestSize, r.request.begin());
  r.wallMicros = microsSinceEpoch(std::chrono::system_clock::now());
  r.sentMicros = steadyMicros();
  r.requestEndMicros =
      r.sentMicros + (onWire ? static_cast<int64_t>(frame.size()) * CharacterMicros : 0);
}

void AttemptTrace::markReadEnded(const SerialPort* port) {
  TraceRecord& r = *record_;
  r.readEndMicros = steadyMicros();
  if (!port) return;
  const ReadArrivals arrivals = port->lastReadArrivals();
  if (arrivals.firstMicros && r.firstByteMicros < 0)
    r.firstByteMicros = readStartMicros_ + *arrivals.firstMicros;
  if (arrivals.lastMicros) r.lastByteMicros = readStartMicros_ + *arrivals.lastMicros;
}

bool AttemptTrace::echoes(const uint8_t* received, size_t count) const {
  const TraceRecord& r = *record_;
  const size_t frame = r.requestSize;
  // The whole request, or its last bytes when the start of the echo was
  // cleared away before the read.
  for (size_t from = 0; from + EchoTailBytes <= frame; ++from) {
    const size_t compared = std::min(frame - from, count);
    if (compared >= EchoTailBytes && std::equal(received, received + compared, &r.request[from]))
      return true;
  }
  return false;
}

TraceOutcome AttemptTrace::judgeLine(const uint8_t* received, size_t count, bool wellFormed) const {
  if (count == 0) return TraceOutcome::Silence;
  if (echoes(received, count)) return TraceOutcome::Echo;
  if (wellFormed) {
    const bool same = (received[FrameOffset::Address] & 0x7F) == record_->address();
    return same ? TraceOutcome::Answer : TraceOutcome::OtherAddress;
  }
  if (count < MinAnswerBytes) return TraceOutcome::Short;
  const size_t announced = size_t{received[FrameOffset::Length]} + 1;
  if (announced > count) return TraceOutcome::Short;
  if (announced != count || count > MaxAnswerBytes) return TraceOutcome::BadLength;
  return TraceOutcome::BadChecksum;
}

TraceOutcome AttemptTrace::judgeSimulator(const uint8_t* reply, size_t count, bool parsed,
                                          bool wellFormed) const {
  if (!parsed) return TraceOutcome::Malformed;
  if (count == 0) return TraceOutcome::Silence;
  if (echoes(reply, count)) return TraceOutcome::Echo;
  const bool same = (reply[FrameOffset::Address] & 0x7F) == record_->address();
  if (wellFormed) return same ? TraceOutcome::Answer : TraceOutcome::OtherAddress;
  if (reply[FrameOffset::Address] == 0) return TraceOutcome::OtherAddress;
  if (count < 2 || size_t{reply[FrameOffset::Length]} + 1 > count) return TraceOutcome::Short;
  return TraceOutcome::BadChecksum;
}

void AttemptTrace::finish(const uint8_t* received, size_t count, TraceOutcome outcome,
                          bool accepted) {
  TraceRecord& r = *record_;
  r.answerSize = static_cast<uint16_t>(std::min(count, r.answer.size()));
  std::copy_n(received, r.answerSize, r.answer.begin());
  if (r.readEndMicros < 0) r.readEndMicros = steadyMicros();
  if (count > 0 && r.lastByteMicros < 0) r.lastByteMicros = r.readEndMicros;
  r.outcome = outcome;
  r.accepted = accepted;
  commit();
}

void AttemptTrace::commit() {
  TraceRecord& r = *record_;
  if (r.outcome == TraceOutcome::NotSent && r.sentMicros >= 0) r.outcome = TraceOutcome::Sent;
  ring_->push(r);
  ring_ = nullptr;
}

}  // namespace loopmon
