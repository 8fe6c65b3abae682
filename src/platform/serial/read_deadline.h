#pragma once
// The read time-outs of a serial port (CommTimeouts) as deadlines, for ports
// that wait with poll() instead of a driver that knows them.

#include <chrono>
#include <cstddef>
#include <optional>

#include "platform/serial/serial_port.h"

namespace loopmon {

class ReadDeadline {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  using Duration = std::chrono::steady_clock::duration;

  // A read of `count` bytes that starts at `start`.
  ReadDeadline(const CommTimeouts& timeouts, size_t count, TimePoint start);

  // Restarts the interval between bytes: call when bytes arrive.
  void bytesArrived(TimePoint now) {
    if (!lastArrival_) firstArrival_ = now;
    lastArrival_ = now;
  }

  // Whether the read also ends at a gap between bytes, timed from each arrival.
  bool timesIntervals() const { return interval_.has_value(); }

  // The most the read waits in all, from its start.
  Duration totalLimit() const { return totalDeadline_ - start_; }

  // When the first and the last bytes came, counted from the start.
  ReadArrivals arrivals() const;

  // How long the read may still wait for more bytes at `now`, `received` bytes
  // into it: zero = return what has arrived. Reads without a total limit in
  // their time-outs still end after 10 s.
  Duration remaining(TimePoint now, size_t received) const;

 private:
  TimePoint start_;
  TimePoint totalDeadline_;
  std::optional<Duration> interval_;
  bool returnOnFirstBytes_ = false;
  std::optional<TimePoint> firstArrival_;
  std::optional<TimePoint> lastArrival_;
};

}  // namespace loopmon
