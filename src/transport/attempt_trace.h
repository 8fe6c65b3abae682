#pragma once
// The record of one attempt, filled in as the engine goes and handed to the
// bus trace when the attempt ends. While the trace is off it holds nothing and
// each call is one test of a null pointer.

#include <optional>

#include "transport/bus_state.h"

namespace loopmon {

class AttemptTrace {
 public:
  AttemptTrace(BusState& bus, const Bytes& request, bool answerAwaited)
      : ring_(bus.Trace.active()) {
    if (ring_) begin(bus, request, answerAwaited);
  }
  // An attempt that ends without an answer read (nothing sent, mode 0, a
  // broadcast) is recorded when it is left.
  ~AttemptTrace() {
    if (ring_) commit();
  }
  AttemptTrace(const AttemptTrace&) = delete;
  AttemptTrace& operator=(const AttemptTrace&) = delete;

  // Just before the frame's first byte goes to the port or the driver.
  void sending(const BusState& bus, const Bytes& frame, std::optional<uint8_t> key) {
    if (ring_) markSent(frame, key, lineRoute(bus), true);
  }
  // Just before the simulator is called with the frame.
  void calling(const Bytes& frame, std::optional<uint8_t> key, TraceRoute route) {
    if (ring_) markSent(frame, key, route, false);
  }
  // Around each read of the answer; a port that can tells when its bytes came.
  void readStarts() {
    if (ring_) readStartMicros_ = steadyMicros();
  }
  void readEnded(const SerialPort* port) {
    if (ring_) markReadEnded(port);
  }
  // The bytes a line route received, whether they passed the checks of an
  // answer and whether the engine took them (only from the device asked).
  void finishLine(const uint8_t* received, size_t count, bool wellFormed, bool accepted) {
    if (ring_) finish(received, count, judgeLine(received, count, wellFormed), accepted);
  }
  // A simulator reply, once parsed (`parsed` false: not frame text).
  void finishSimulator(const uint8_t* reply, size_t count, bool parsed, bool wellFormed,
                       bool accepted) {
    if (ring_) finish(reply, count, judgeSimulator(reply, count, parsed, wellFormed), accepted);
  }

 private:
  static int64_t steadyMicros();
  static TraceRoute lineRoute(const BusState& bus);
  void begin(BusState& bus, const Bytes& request, bool answerAwaited);
  void markSent(const Bytes& frame, std::optional<uint8_t> key, TraceRoute route, bool onWire);
  void markReadEnded(const SerialPort* port);
  TraceOutcome judgeLine(const uint8_t* received, size_t count, bool wellFormed) const;
  TraceOutcome judgeSimulator(const uint8_t* reply, size_t count, bool parsed,
                              bool wellFormed) const;
  bool echoes(const uint8_t* received, size_t count) const;
  void finish(const uint8_t* received, size_t count, TraceOutcome outcome, bool accepted);
  void commit();

  TraceRing* ring_;
  // Left unbuilt while the trace is off: no zeroing of its buffers then.
  std::optional<TraceRecord> record_;
  int64_t readStartMicros_ = 0;
};

}  // namespace loopmon
