#pragma once
// The simulator's side of the transport: the process-wide simulator state that
// a session carries, the frame buffer of one simulator exchange and the reading
// of the answer text. The exchanges themselves are declared with Transact.

#include <array>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/simulator/simulator_link.h"
#include "transport/frame.h"

namespace loopmon {

class BusState;

// Lets the worker side hold its calls while direct-side exchanges run. The
// direct side never waits; it only announces itself.
class DirectSideGate {
 public:
  void enter();
  void leave();
  // Returns once no direct-side exchange is running.
  void waitUntilClear();

 private:
  std::mutex lock_;
  std::condition_variable cleared_;
  int running_ = 0;
};

// The simulator's process-wide state: the mode flag, the worker-side object
// (created when the worker thread starts) and the gate between the two sides.
// Direct-side objects live only for their own exchange.
struct SimulatorState {
  bool enabled = false;
  std::unique_ptr<SimulatorObject> workerObject;
  DirectSideGate directSide;
};

// The frame of one simulator exchange: the request, then the parsed answer.
// Each exchange has its own, so the two sides never share one.
struct SimulatorBuffer {
  std::array<uint8_t, MaxFrameBytes> bytes{};
  size_t count = 0;
};

// Reads an answer text into `buffer`. "" leaves no bytes, with the first 127
// zeroed so that the answer's address reads 0. False for a piece that is not
// a decimal number 0..255, or for more than 255 pieces; `count` is then 0.
bool ParseFrameText(const std::string& text, SimulatorBuffer& buffer);

// The worker-side object ("Obmen"), created on the worker thread when it
// starts in simulator mode; throws SimulatorUnavailable like the direct side.
void CreateWorkerSimulator(BusState& bus);
// Drops it; the session does this when it is destroyed.
void DropWorkerSimulator(BusState& bus);

}  // namespace loopmon
