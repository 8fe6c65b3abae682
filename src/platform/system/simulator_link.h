#pragma once
// The channel to the device simulator server. On Windows it is a late-bound
// COM automation object ("Simul.Simulator" / "Simul.Simul2"); on POSIX a
// connection to `loopsim serve` over a Unix socket in $XDG_RUNTIME_DIR/loopmon/.

#include <memory>
#include <stdexcept>
#include <string>

namespace loopmon {

enum class SimulatorSide {
  Direct,  // "Simul.Simulator", method "Transceiving"
  Worker,  // "Simul.Simul2", method "Obmen"
};

// Raised when the simulator object cannot be created (no server running).
class SimulatorUnavailable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raised when the simulator server takes a connection but does not answer a
// call in time (a hung or stopped process): every further exchange would wait
// as long, so the caller hears of it at once.
class SimulatorNotResponding : public SimulatorUnavailable {
 public:
  SimulatorNotResponding() : SimulatorUnavailable("the simulator server does not respond") {}
};

// The method each side calls: "Transceiving" (direct) or "Obmen" (worker).
const char* simulatorMethodName(SimulatorSide side);

class SimulatorObject {
 public:
  virtual ~SimulatorObject() = default;
  // Sends a request frame in text form, returns the answer text ("" = no answer,
  // or the channel failed). Throws SimulatorNotResponding when the server has
  // not answered within a second.
  virtual std::string call(const std::string& requestText) = 0;
};

class SimulatorLink {
 public:
  virtual ~SimulatorLink() = default;
  // Creates an object of the given side; throws SimulatorUnavailable.
  virtual std::unique_ptr<SimulatorObject> create(SimulatorSide side) = 0;
};

std::shared_ptr<SimulatorLink> makeSimulatorLink();

}  // namespace loopmon
