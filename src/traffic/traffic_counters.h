#pragma once
// Per-device counters of the bus traffic, kept from the trace's records: the
// device that answers late or only after retries is the one whose wiring or
// termination wants looking at.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "traffic/frame_meaning.h"
#include "transport/bus_trace.h"

namespace loopmon {

// Attempts that awaited an answer, each counted once under answers,
// silences, damaged or unsent; requests = attempts - retries.
struct DeviceTraffic {
  uint64_t requests = 0;
  uint64_t attempts = 0;
  uint64_t answers = 0;
  uint64_t silences = 0;
  uint64_t damaged = 0;  // short, wrong length or checksum, an echo, another address
  uint64_t unsent = 0;   // the port could not be used
  uint64_t retries = 0;  // attempts after a request's first
  uint64_t failed = 0;   // requests whose last attempt went unanswered
  // From the end of the request to the answer's last byte; the median to 0.01 ms.
  std::optional<double> medianAnswerMs() const;
  std::optional<double> worstAnswerMs() const;

 private:
  friend class TrafficCounters;
  // Answers per 0.01 ms of answer time; the last step takes all the longer ones.
  std::vector<uint32_t> answerTimes_;
  int64_t worstMicros_ = -1;
};

class TrafficCounters {
 public:
  void add(const TraceRecord& record);
  void clear() { devices_.clear(); }
  const std::map<uint8_t, DeviceTraffic>& devices() const { return devices_; }

 private:
  std::map<uint8_t, DeviceTraffic> devices_;
};

// The counters as a table: a heading line, then one line per device, the
// columns separated by blanks and each as wide as its heading.
std::vector<std::string> countersTable(const TrafficCounters& counters,
                                       const TraceWording& wording = ScriptWording);

}  // namespace loopmon
