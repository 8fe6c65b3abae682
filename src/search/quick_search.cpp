#include "search/quick_search.h"

#include <algorithm>

#include "search/search_procedure.h"
#include "session/session.h"
#include "transport/bus_state.h"
#include "transport/line_settings.h"

namespace loopmon {

QuickScan::QuickScan(const std::vector<uint8_t>& order) : order_(order), pending_(order) {
  std::set<uint8_t> seen;
  std::erase_if(pending_, [&seen](uint8_t address) { return !seen.insert(address).second; });
  order_ = pending_;
}

bool QuickScan::Done() const {
  return owed_.empty() && at_ >= pending_.size();
}

uint8_t QuickScan::NextAddress() const {
  if (!owed_.empty()) return owed_.front();
  return at_ < pending_.size() ? pending_[at_] : 0;
}

int QuickScan::NextIndex() const {
  const auto found = std::find(order_.begin(), order_.end(), NextAddress());
  return found == order_.end() ? 0 : static_cast<int>(found - order_.begin()) + 1;
}

uint32_t QuickScan::LimitMs(const LineSettings& settings) const {
  // An eighth more than the latest start of an answer so far, for the
  // devices' jitter; an answer that still starts later is heard by the next
  // try.
  // Only an answer that begins just after the wait and ends before the next
  // request has left goes unheard, as the line is cleared around the
  // sending: the second pass waits longer than the first by more than that
  // gap, so that what the first missed it hears in part, and what it misses
  // the first heard late.
  const auto learned = static_cast<uint32_t>((neededMicros_ * 9 / 8 + 999) / 1000) + 1;
  const uint32_t gap = pass_ == 2 ? 2 + settings.StartTimeout : 0;
  return std::min(settings.TimeoutConstant, std::max(FirstLimitMs, learned) + gap);
}

void QuickScan::advance() {
  ++at_;
  // A pass ends: the next one takes the addresses that stayed silent.
  if (at_ < pending_.size() || pass_ == Passes || silent_.empty()) return;
  ++pass_;
  pending_ = std::move(silent_);
  silent_.clear();
  at_ = 0;
}

void QuickScan::owe(uint8_t address) {
  if (address < 1 || address > 127 || settled(address)) return;
  if (std::find(owed_.begin(), owed_.end(), address) == owed_.end()) owed_.push_back(address);
}

void QuickScan::learn(TRSSession& session) {
  // When its first byte came: a wait that long hears the answer begin, and a
  // begun answer gets the full request.
  const HeardAnswer heard = session.LastHeard();
  if (heard.bytes == 0) return;
  const auto rest = static_cast<int64_t>(heard.bytes - 1) * CharacterMicros;
  neededMicros_ = std::max(neededMicros_, heard.readMicros - rest);
}

std::string QuickScan::fullRequest(TRSSession& session, uint8_t address) {
  settled_.insert(address);
  session.SetDeviceType(address, NoDevice);
  if (!session.DirectRequest({address, 6, 0, BusCommand::Presence, 0, 0}, 1)) return {};
  learn(session);
  return IdentifyPresent(session, address);
}

std::string QuickScan::Step(TRSSession& session) {
  if (!owed_.empty()) {
    const uint8_t address = owed_.front();
    owed_.pop_front();
    return fullRequest(session, address);
  }
  if (Done()) return {};
  const uint8_t address = pending_[at_];
  // Skipped, not probed twice: a late answer put it ahead of its turn.
  if (settled(address)) {
    advance();
    return {};
  }
  session.SetDeviceType(address, NoDevice);
  const uint32_t limit = LimitMs(session.Settings());
  const bool answered = session.ProbeOnce({address, 6, 0, BusCommand::Presence, 0, 0}, 1, limit);
  const HeardAnswer heard = session.LastHeard();
  const uint8_t before = previous_;
  previous_ = address;
  // A whole answer from another address is that device's, late for its own
  // try: this address had no try of its own yet, and waits for the next
  // pass. Damaged bytes may be this device's answer or the tail of the one
  // probed before.
  const bool late = !answered && heard.wellFormed && heard.address != address;
  if (late) owe(heard.address);
  if (!answered && (heard.bytes == 0 || late) && pass_ < Passes) {
    silent_.push_back(address);
    advance();
    return {};
  }
  advance();
  if (answered) {
    learn(session);
    settled_.insert(address);
    return IdentifyPresent(session, address);
  }
  if (heard.bytes == 0) return {};
  if (!late) owe(before);
  return fullRequest(session, address);
}

}  // namespace loopmon
