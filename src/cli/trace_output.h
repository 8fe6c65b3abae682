#pragma once
// loopctl's --trace[=FILE], --trace-format and --stats: every attempt on the
// bus during a command, one line each, and the per-device counters at the end.

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "session/session.h"
#include "traffic/capture.h"
#include "traffic/trace_pump.h"
#include "traffic/traffic_counters.h"

namespace loopmon::cli {

enum class TraceFormat { Text, Json, Capture };

struct TraceOptions {
  bool trace = false;
  std::string file;  // empty: standard error
  TraceFormat format = TraceFormat::Text;
  bool stats = false;
  bool any() const { return trace || stats; }
};

// Takes the trace options out of `words`, wherever they stand; UsageError for
// a bad one.
TraceOptions takeTraceOptions(std::vector<std::string>& words);

// True while trace lines go to standard error, where a rewritten progress
// line would run into them.
bool traceSharesStandardError();

// The trace of one run of loopctl. Made before the command, so that a file
// that cannot be written stops it before the bus is touched; fed by the
// sessions the command opens; at its end it writes what is left, what was
// dropped, and the counters (standard error) when asked.
class TraceOutput {
 public:
  explicit TraceOutput(const TraceOptions& options);
  ~TraceOutput();
  TraceOutput(const TraceOutput&) = delete;
  TraceOutput& operator=(const TraceOutput&) = delete;

  void attach(TRSSession& session);
  // Ends the trace after a command that ran its course: a capture is written
  // whole now, and a file that cannot be written is a CliError. After a
  // command that failed the destructor does the same and tells a failure on
  // standard error.
  void finish();

 private:
  void write(const std::vector<TraceRecord>& batch, uint64_t dropped);
  void writeStats();

  TraceOptions options_;
  std::FILE* out_ = nullptr;
  std::optional<CaptureWriter> capture_;
  bool finished_ = false;
  // The pump's thread alone touches these until the pump is gone.
  TrafficCounters counters_;
  uint64_t dropped_ = 0;
  std::unique_ptr<TracePump> pump_;
};

}  // namespace loopmon::cli
