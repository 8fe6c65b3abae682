#pragma once
// The loop table's layout for a device type: how many rows it has and which
// of them start marked. The window and loopctl both lay their tables out by it.

#include <array>
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

// The table's columns in a view: the first three are fixed (never selected),
// the fourth shows only past the visible width.
inline constexpr int LoopTableColumns = 4;
inline constexpr int FixedLoopColumns = 3;
struct LoopColumns {
  // Headings of columns 0 to 2; the state view has none for column 2.
  std::array<const char*, 3> headings;
  // Widths at 96 DPI.
  std::array<int, LoopTableColumns> widths;
};
// ADC view: "Номер ШС", "Показание АЦП", "R кОм" at 90, 120, 77. State view:
// "Номер ШС", "Состояние ШС" and every column 144 wide.
const LoopColumns& LoopColumnsFor(bool adcView);

// The table's `clear` blanks columns 0 and 1 of the rows a 20-loop device
// has, heading row included.
inline constexpr int ClearedRows = 20;

}  // namespace loopmon
