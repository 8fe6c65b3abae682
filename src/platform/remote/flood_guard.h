#pragma once
// The flood bound of a remote line: what a server may send beyond the pace a
// bus carries, and how much may wait unread (RemoteFloodBytes,
// RemoteQueueBytes). Times are handed in, so that the bound can be held
// exactly without a clock.

#include <chrono>
#include <cstddef>

namespace loopmon {

class FloodGuard {
 public:
  using Time = std::chrono::steady_clock::time_point;

  // A new connection starts with the whole allowance.
  void restart(Time now);
  // Counts `bytes` that came at `now` against what the line's pace allows
  // since the connection began, with `queued` bytes now waiting to be read:
  // false once they run RemoteFloodBytes beyond the pace, or the queue beyond
  // RemoteQueueBytes.
  bool admits(size_t bytes, size_t queued, Time now);

 private:
  double allowance_ = 0;  // bytes the line may still bring beyond its pace
  Time pacedUntil_;
};

}  // namespace loopmon
