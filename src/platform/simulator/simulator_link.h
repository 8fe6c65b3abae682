#pragma once
// The channel to the device simulator server. On Windows it is a late-bound
// COM automation object ("Simul.Simulator" / "Simul.Simul2"); on POSIX a
// connection to `loopsim serve` over a Unix socket in $XDG_RUNTIME_DIR/loopmon/.

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

namespace loopmon {

enum class SimulatorSide {
  Direct,  // "Simul.Simulator", method "Transceiving"
  Worker,  // "Simul.Simul2", method "Obmen"
};

// Why a simulator object could not be had, so that each front end can tell
// the user in its own language what to do about it.
enum class SimulatorProblem {
  Other,          // the message says it all
  NotRegistered,  // the objects are not registered on this computer
  NotServing,     // registered, but no simulator server runs
  Starting,       // a simulator server is still starting
  Unreachable,    // a server holds "SIMUL" but its objects cannot be reached
  NotResponding,  // the server takes calls but does not answer them
};

// Raised when the simulator object cannot be created (no server running).
// what() is the whole English message; detail() the system's own words.
class SimulatorUnavailable : public std::runtime_error {
 public:
  explicit SimulatorUnavailable(const std::string& message,
                                SimulatorProblem problem = SimulatorProblem::Other,
                                std::string detail = {})
      : std::runtime_error(message), problem_(problem), detail_(std::move(detail)) {}
  SimulatorProblem problem() const { return problem_; }
  const std::string& detail() const { return detail_; }

 private:
  SimulatorProblem problem_;
  std::string detail_;
};

// Raised when the simulator server takes a connection but does not answer a
// call in time (a hung or stopped process): every further exchange would wait
// as long, so the caller hears of it at once.
class SimulatorNotResponding : public SimulatorUnavailable {
 public:
  SimulatorNotResponding()
      : SimulatorUnavailable("the simulator server does not respond",
                             SimulatorProblem::NotResponding) {}
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
