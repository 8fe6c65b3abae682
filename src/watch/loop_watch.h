#pragma once
// One loop as the watch follows it from reading to reading: its condition,
// how often that changed and whether it flaps. Each reading says which
// event, if any, it makes for the log.

#include <cstdint>
#include <optional>
#include <string>

#include "record/json.h"
#include "record/site_record.h"
#include "watch/flapping.h"

namespace loopmon {

class LoopWatch {
 public:
  // The loop as its first reading found it.
  explicit LoopWatch(LoopCondition first = LoopCondition::NotShown) : condition_(first) {}

  // Takes the next reading; the event it makes, "event" (its name) first,
  // then what it says of the loop. None when nothing is worth a line: the
  // condition stayed, or it changed while the loop is known to flap.
  std::optional<Json> take(const LoopRecord& loop);

  uint64_t changes() const { return changes_; }
  bool flapping() const { return flap_.flapping(); }

 private:
  LoopCondition condition_;
  uint64_t changes_ = 0;
  FlapDetector flap_;
};

// The log's line for an event a loop's reading made: the event's name, the
// line, the address and the loop, then what the event says.
Json LoopEvent(const std::string& line, uint8_t address, int loop, Json made);

// A condition as the log names it; null for none shown.
Json ConditionJson(LoopCondition condition);

}  // namespace loopmon
