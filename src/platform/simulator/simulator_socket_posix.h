#pragma once
// The Unix socket between SimulatorLink and `loopsim serve`. One line per
// call each way: the client sends the method name, one space and the request
// text; the server answers with the answer text ("" when no device answers).

#include <cstddef>
#include <string>
#include <string_view>

namespace loopmon {

// runtimeFolder() + "simul.sock"; "" when there is no runtime folder.
std::string simulatorSocketPath();

// Longest line either side accepts, newline included. Frames in text form
// stay far below it; anything longer is garbage.
inline constexpr size_t MaxSimulatorLineBytes = 4096;

// The client's reading of one reply as its bytes come: whole once its newline
// has come, broken when anything follows the newline (the two ends are out of
// step: a late reply would be taken for the next call's) or when it grows to
// MaxSimulatorLineBytes without one.
class SimulatorReply {
 public:
  enum class State { Incomplete, Whole, Broken };
  State take(std::string_view bytes);
  State state() const { return state_; }
  // The line without its newline, once whole.
  const std::string& text() const { return received_; }

 private:
  std::string received_;
  State state_ = State::Incomplete;
};

}  // namespace loopmon
