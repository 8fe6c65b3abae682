#pragma once
// The unattended watch of whole buses: each line on a thread of its own, its
// devices found by a search, every loop of each read in both views every
// period, and what changed written to the event log and kept for the
// metrics. A lost line is opened again every second until it answers; the
// log says how long it was gone.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "watch/event_log.h"
#include "watch/watch_state.h"

namespace loopmon {

class TRSSession;

struct WatchSettings {
  std::vector<std::string> ports;
  // In the order the search probes them.
  std::vector<uint8_t> addresses;
  // The least time from one pass's start to the next; 0: one pass after the
  // other, as fast as the bus allows.
  std::chrono::milliseconds period{0};
  std::string site;
  std::string logFolder;
  std::string metrics;
  // Passes of each line before it ends by itself; 0: until stopped.
  int passes = 0;
};

// A session on `port` whose port is not opened yet; the watch opens it.
using SessionMaker = std::function<std::unique_ptr<TRSSession>(const std::string& port)>;

class Watch {
 public:
  Watch(WatchSettings settings, SessionMaker makeSession, EventLog& log, WatchState& state);
  // Stops and joins the lines.
  ~Watch();
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

  // Writes the "started" event and starts a thread per line.
  void start();
  // Asks the lines to end after their current exchange, joins them and writes
  // the "stopped" event with `reason` and each line's passes and traffic.
  void stop(const std::string& reason);
  // True once every line has done its passes.
  bool finished() const;

 private:
  class Line;
  WatchSettings settings_;
  SessionMaker makeSession_;
  EventLog& log_;
  WatchState& state_;
  std::atomic<bool> stopping_{false};
  std::vector<std::unique_ptr<Line>> lines_;
  bool stopped_ = false;
};

}  // namespace loopmon
