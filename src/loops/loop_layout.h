#pragma once
// The loop table's layout for a device type: how many rows it has and which
// of them start marked. The window and loopctl both lay their tables out by it.

#include <cstdint>

namespace loopmon {

// The device type whose "loops" are the line devices attached to it.
inline constexpr uint8_t LineControllerType = 9;

struct LoopLayout {
  // Rows of the table, heading row included: 1 for a type without loops.
  int rows = 1;
  // Only the line controller's 127 numbers need scrolling.
  bool scrollBar = false;
  // Rows from this one on start marked (not read); 0 when none does.
  int markedFrom = 0;
};

// Types 1, 2 and 11: 20 loops; type 4: 4; type 9: 127 numbers of which only
// the first is read at first; any other type (also one the session could not
// name): no loop rows.
LoopLayout LoopLayoutFor(uint16_t deviceType);

}  // namespace loopmon
