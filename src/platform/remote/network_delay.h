#pragma once
// What a remote line learns of its network: the round trip (the system's TCP
// estimate; where the system tells none, over RFC 2217 the time the server
// takes to answer a control request, which also holds the server's own
// handling: ser2net takes some 8 ms on the loopback address) and how much
// later than a local line's time-outs allow the answers have come. From that,
// the allowance a read is given on top of a local line's time-outs.
//
// Times are handed in, so that the learning can be driven without a clock.

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <utility>

namespace loopmon {

class NetworkDelay {
 public:
  using Time = std::chrono::steady_clock::time_point;

  // A new connection: nothing awaited, and the ceiling holds until the line
  // has answered.
  void noteConnected();
  void noteKernelRoundTrip(double ms) { kernelMs_ = ms; }
  // A control request with command `code` went to the server at `now`.
  void noteControlSent(uint8_t code, Time now);
  // The server answered a control request with `code` at `now`.
  void noteServerAnswered(uint8_t code, Time now);
  void noteAnswered() { answered_ = true; }
  // An answer needed `ms` beyond a local line's limit, within `ceilingMs`.
  void noteAnswerNeeded(double ms, uint32_t ceilingMs);
  // An answer came `ms` after its try gave up at the local line's limit.
  void noteLateAnswer(double ms, uint32_t ceilingMs);
  uint32_t allowanceMs(uint32_t ceilingMs) const;

 private:
  std::optional<double> kernelMs_;
  std::optional<double> serverMs_;
  double answersNeededMs_ = 0;
  bool answered_ = false;
  // The control requests sent (command code, when) whose answers are awaited.
  std::deque<std::pair<uint8_t, Time>> controlsAwaited_;
};

}  // namespace loopmon
