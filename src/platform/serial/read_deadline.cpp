#include "platform/serial/read_deadline.h"

#include <algorithm>

namespace loopmon {

namespace {
// The Win32 value "MAXDWORD", which gives the interval time-out its special meanings.
constexpr uint32_t kMaxDword = 0xFFFFFFFF;
// A comm port without a total limit waits for every byte, if need be for
// ever. A read here still ends after this long, so that a silent or vanished
// device never holds its caller for good.
constexpr auto kLongestUnlimitedRead = std::chrono::seconds(10);
}  // namespace

// The rules of COMMTIMEOUTS:
// - interval MAXDWORD with both totals 0: return at once with what is queued;
// - interval and multiplier MAXDWORD, constant between 0 and MAXDWORD: return at
//   once with what is queued, else with the first bytes that arrive, else after
//   the constant;
// - otherwise the total limit is multiplier * count + constant from the start
//   (10 s when both are 0), and once a byte has arrived the read also ends when
//   the next one takes longer than the interval (none when it is 0);
// - all zero: wait until every byte has arrived, but at most 10 s.
ReadDeadline::ReadDeadline(const CommTimeouts& t, size_t count, TimePoint start) : start_(start) {
  using std::chrono::milliseconds;
  if (t.readIntervalMs == kMaxDword && t.readTotalMultiplierMs == 0 && t.readTotalConstantMs == 0) {
    totalDeadline_ = start;
    return;
  }
  if (t.readIntervalMs == kMaxDword && t.readTotalMultiplierMs == kMaxDword &&
      t.readTotalConstantMs > 0 && t.readTotalConstantMs < kMaxDword) {
    returnOnFirstBytes_ = true;
    totalDeadline_ = start + milliseconds(t.readTotalConstantMs);
    return;
  }
  if (t.readTotalMultiplierMs != 0 || t.readTotalConstantMs != 0) {
    // Capped far beyond any real wait so the time arithmetic cannot overflow.
    constexpr uint64_t kLongestMs = uint64_t{1} << 40;
    uint64_t totalMs = t.readTotalConstantMs;
    if (t.readTotalMultiplierMs != 0) {
      uint64_t bytes = std::min<uint64_t>(count, kLongestMs / t.readTotalMultiplierMs);
      totalMs += bytes * t.readTotalMultiplierMs;
    }
    totalMs = std::min(totalMs, kLongestMs);
    totalDeadline_ = start + milliseconds(totalMs);
  } else {
    totalDeadline_ = start + kLongestUnlimitedRead;
  }
  if (t.readIntervalMs != 0) interval_ = milliseconds(t.readIntervalMs);
}

ReadArrivals ReadDeadline::arrivals() const {
  const auto micros = [this](const std::optional<TimePoint>& moment) -> std::optional<int64_t> {
    if (!moment) return std::nullopt;
    return std::chrono::duration_cast<std::chrono::microseconds>(*moment - start_).count();
  };
  return {micros(firstArrival_), micros(lastArrival_)};
}

ReadDeadline::Duration ReadDeadline::remaining(TimePoint now, size_t received) const {
  if (returnOnFirstBytes_ && received > 0) return Duration::zero();
  TimePoint until = totalDeadline_;
  if (interval_ && received > 0 && lastArrival_)
    until = std::min(until, *lastArrival_ + *interval_);
  return std::max(Duration::zero(), until - now);
}

}  // namespace loopmon
