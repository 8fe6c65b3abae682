#pragma once
// What the watch knows now, for the metrics: each loop's latest reading and
// its condition's history in figures, each device's presence, each line's
// state and traffic. The line threads write it, the metrics server reads it.

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>

#include "loops/loop_reading.h"
#include "traffic/traffic_counters.h"

namespace loopmon {

struct LoopFigures {
  std::optional<double> kiloOhms;
  std::optional<int> adc;
  LoopCondition condition = LoopCondition::NotShown;
  uint64_t changes = 0;
  bool flapping = false;
};

class WatchState {
 public:
  explicit WatchState(std::string site) : site_(std::move(site)) {}

  void setLoop(const std::string& line, uint8_t address, int loop, const LoopFigures& figures);
  void setDevice(const std::string& line, uint8_t address, bool present);
  void setLine(const std::string& line, bool up);
  void addTraffic(const std::string& line, const TraceRecord& record);
  // The line's traffic, all its devices together (no answer times).
  DeviceTraffic lineTraffic(const std::string& line) const;

  // Everything in the OpenMetrics text format, "# EOF" at the end.
  std::string openMetrics() const;

 private:
  std::string site_;
  mutable std::mutex mutex_;
  std::map<std::tuple<std::string, uint8_t, int>, LoopFigures> loops_;
  std::map<std::pair<std::string, uint8_t>, bool> devices_;
  std::map<std::string, bool> lines_;
  std::map<std::string, TrafficCounters> traffic_;
};

// A label value as the text format quotes it.
std::string MetricLabelValue(const std::string& text);

}  // namespace loopmon
