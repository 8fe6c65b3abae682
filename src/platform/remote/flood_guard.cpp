#include "platform/remote/flood_guard.h"

#include <algorithm>

#include "platform/remote/remote_line.h"

namespace loopmon {

void FloodGuard::restart(Time now) {
  allowance_ = RemoteFloodBytes;
  pacedUntil_ = now;
}

bool FloodGuard::admits(size_t bytes, size_t queued, Time now) {
  const double seconds = std::chrono::duration<double>(now - pacedUntil_).count();
  pacedUntil_ = now;
  allowance_ =
      std::min<double>(RemoteFloodBytes, allowance_ + seconds * RemoteLinePaceBytesPerSecond);
  allowance_ -= static_cast<double>(bytes);
  return allowance_ >= 0 && queued <= RemoteQueueBytes;
}

}  // namespace loopmon
