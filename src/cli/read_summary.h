#pragma once
// loopctl read --summary and monitor --summary: the readings of a periodic
// reading, or the subscriptions' readings, go into a loop history, and when the
// work ends (passes done, duration over, or Ctrl-C) one line per loop tells its
// extremes and moves.

#include <cstdio>
#include <optional>

#include "cli/console_views.h"
#include "loops/loop_history.h"
#include "session/session.h"

namespace loopmon::cli {

// Records every reading the subscriptions of `addresses` report, besides what
// the session's OnNewADC handler already does with it. The devices' types and
// versions must be known (the coefficients are taken from them now); the
// history must outlive the session's handler.
void FeedSubscriptions(TRSSession& session, LoopHistory& history,
                       const std::vector<uint8_t>& addresses);

// Per loop: readings, lowest and highest resistance, moves, and the moves into
// and out of alarm, open and short ("in/out"). With `json` one object per
// line, the times of the moves included.
void PrintSummary(std::FILE* out, const LoopHistory& history, bool json);

}  // namespace loopmon::cli
