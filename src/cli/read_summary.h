#pragma once
// loopctl read --summary and monitor --summary: the readings of a periodic
// reading, or the subscriptions' readings, go into a loop history, and when the
// work ends (passes done, duration over, or Ctrl-C) one line per loop tells its
// extremes and moves.

#include <cstdio>
#include <map>
#include <optional>

#include "cli/console_views.h"
#include "loops/loop_history.h"
#include "session/session.h"

namespace loopmon::cli {

// What the readings of a subscribed device are decoded with.
struct SubscribedDevice {
  uint16_t type = 0;
  Coefficients coefficients;
};
using SubscribedDevices = std::map<uint8_t, SubscribedDevice>;

// The devices of `addresses` as the session knows them now: their types and
// versions must be known by then. Their coefficients are looked up only when
// asked for (a broken section throws).
SubscribedDevices SubscribedDevicesOf(const TRSSession& session,
                                      const std::vector<uint8_t>& addresses, bool coefficients);

// The reading a subscription of `addr`'s `loop` hands on with `answer` (read
// with `command`), decoded as the reading cycle decodes its own; nothing when
// the answer cannot be that loop's ADC answer (the reports of a lost or false
// device carry none).
std::optional<LoopReading> SubscribedReading(const SubscribedDevices& devices, uint8_t addr,
                                             uint8_t command, uint8_t loop, const Bytes& answer);

// Records every reading the subscriptions of `devices` report, besides what
// the session's OnNewADC handler already does with it; the history must
// outlive the session's handler.
void FeedSubscriptions(TRSSession& session, LoopHistory& history, SubscribedDevices devices);

// Per loop: readings, lowest and highest resistance, moves, and the moves into
// and out of alarm, open and short ("in/out"). With `json` one object per
// line, the times of the moves included.
void PrintSummary(std::FILE* out, const LoopHistory& history, bool json);

}  // namespace loopmon::cli
