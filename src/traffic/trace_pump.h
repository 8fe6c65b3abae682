#pragma once
// A reader of the bus trace on a thread of its own: it takes what the ring
// holds every period and hands it on, so that writing the records out never
// holds up an exchange.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "transport/bus_trace.h"

namespace loopmon {

class TracePump {
 public:
  // `dropped`: records lost since the last batch, before these.
  using Sink = std::function<void(const std::vector<TraceRecord>& batch, uint64_t dropped)>;

  TracePump(std::shared_ptr<TraceRing> ring, std::chrono::milliseconds period, Sink sink);
  // Takes what is left, hands it on, and ends the thread.
  ~TracePump();
  TracePump(const TracePump&) = delete;
  TracePump& operator=(const TracePump&) = delete;

 private:
  void drain(std::vector<TraceRecord>& batch);

  std::shared_ptr<TraceRing> ring_;
  std::chrono::milliseconds period_;
  Sink sink_;
  std::mutex lock_;
  std::condition_variable stopping_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace loopmon
