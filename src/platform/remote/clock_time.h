#pragma once
// The injected clock's counter as a steady time point, for the remote line's
// deadlines and ledgers: a fake clock then moves them as it moves.

#include <chrono>
#include <cstdint>

#include "platform/system/clock.h"

namespace loopmon {

inline std::chrono::steady_clock::time_point clockTime(Clock& clock) {
  const int64_t frequency = clock.counterFrequency();
  if (frequency <= 0) {
    return std::chrono::steady_clock::time_point(std::chrono::milliseconds(clock.tickCountMs()));
  }
  const int64_t counter = clock.counter();
  const auto whole = std::chrono::seconds(counter / frequency);
  const auto part = std::chrono::nanoseconds((counter % frequency) * 1'000'000'000 / frequency);
  return std::chrono::steady_clock::time_point(
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(whole + part));
}

}  // namespace loopmon
