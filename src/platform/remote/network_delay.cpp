#include "platform/remote/network_delay.h"

#include <algorithm>
#include <cmath>

#include "platform/remote/telnet_codec.h"

namespace loopmon {

namespace {
// A device server passes the line's bytes on after a pause of a character or
// two (ser2net: two, about 2 ms at 9600 baud); this covers that and the
// scheduling of both ends.
constexpr double ServerGatheringMs = 5;
// An answer that came after its try gave up cost a retry: the allowance then
// covers a quarter more than it needed, for the jitter that made it late.
constexpr double LateAnswerHeadroom = 1.25;
// Control requests whose answers are awaited, as far as they are kept: a
// server that leaves some unanswered must not grow the list.
constexpr size_t KeptControlRequests = 16;
}  // namespace

void NetworkDelay::noteConnected() {
  answered_ = false;
  controlsAwaited_.clear();
}

void NetworkDelay::noteControlSent(uint8_t code, Time now) {
  if (controlsAwaited_.size() == KeptControlRequests) controlsAwaited_.pop_front();
  controlsAwaited_.push_back({code, now});
}

// The server answers a command with its code + 100, in the order sent; the
// commands before the one answered are taken as left unanswered. The round
// trip is smoothed as TCP smooths its own estimate: one slow answer moves it
// an eighth of the way.
void NetworkDelay::noteServerAnswered(uint8_t code, Time now) {
  const auto answered = std::find_if(
      controlsAwaited_.begin(), controlsAwaited_.end(),
      [code](const auto& sent) { return sent.first + telnet::ServerAnswerOffset == code; });
  if (answered == controlsAwaited_.end()) return;
  const double ms = std::chrono::duration<double, std::milli>(now - answered->second).count();
  serverMs_ = serverMs_ ? (7 * *serverMs_ + ms) / 8 : ms;
  controlsAwaited_.erase(controlsAwaited_.begin(), answered + 1);
}

void NetworkDelay::noteAnswerNeeded(double ms, uint32_t ceilingMs) {
  if (ms > 0) answersNeededMs_ = std::max(answersNeededMs_, std::min<double>(ms, ceilingMs));
}

void NetworkDelay::noteLateAnswer(double ms, uint32_t ceilingMs) {
  noteAnswerNeeded(ms * LateAnswerHeadroom, ceilingMs);
}

// Twice the round trip, for its jitter, and the server's gathering; never
// below what an answer has needed. Where neither the system nor the server
// tells a round trip, the answers' times alone size it: the first answer,
// read within the ceiling, shows how much of it it needed. A server may still
// be setting its line up when the connection is new: until the line has
// answered once, the ceiling holds.
uint32_t NetworkDelay::allowanceMs(uint32_t ceilingMs) const {
  if (!answered_) return ceilingMs;
  const double roundTripMs = kernelMs_ ? *kernelMs_ : serverMs_.value_or(0);
  const double fromNetwork = std::max(2 * roundTripMs + ServerGatheringMs, answersNeededMs_);
  return static_cast<uint32_t>(std::min<double>(std::ceil(fromNetwork), ceilingMs));
}

}  // namespace loopmon
