#include "traffic/trace_pump.h"

namespace loopmon {

TracePump::TracePump(std::shared_ptr<TraceRing> ring, std::chrono::milliseconds period, Sink sink)
    : ring_(std::move(ring)), period_(period), sink_(std::move(sink)) {
  thread_ = std::thread([this] {
    std::vector<TraceRecord> batch;
    std::unique_lock guard(lock_);
    while (!stopping_.wait_for(guard, period_, [this] { return stop_; })) {
      guard.unlock();
      drain(batch);
      guard.lock();
    }
  });
}

TracePump::~TracePump() {
  {
    std::lock_guard guard(lock_);
    stop_ = true;
  }
  stopping_.notify_all();
  thread_.join();
  std::vector<TraceRecord> batch;
  drain(batch);
}

void TracePump::drain(std::vector<TraceRecord>& batch) {
  batch.clear();
  const uint64_t dropped = ring_->take(batch);
  if (!batch.empty() || dropped != 0) sink_(batch, dropped);
}

}  // namespace loopmon
