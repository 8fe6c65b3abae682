#pragma once
// Deadlines as the whole milliseconds that poll, select and a remote line's
// pump wait for.

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace loopmon {

// Rounded up, since waking before the deadline would only cost another round;
// 0 once it has passed, and at most 2^30 ms, which any wait call takes.
inline uint32_t waitMs(std::chrono::steady_clock::duration left) {
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(left).count();
  return static_cast<uint32_t>(std::clamp<int64_t>((micros + 999) / 1000, 0, int64_t{1} << 30));
}

inline uint32_t msUntil(
    std::chrono::steady_clock::time_point deadline,
    std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now()) {
  return waitMs(deadline - now);
}

}  // namespace loopmon
