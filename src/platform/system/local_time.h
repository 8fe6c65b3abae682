#pragma once

#include <ctime>

namespace loopmon {

// The local calendar time of `when` and its offset from UTC in minutes (east
// positive), daylight saving included.
struct LocalTime {
  std::tm calendar{};
  int utcOffsetMinutes = 0;
};

LocalTime localTimeOf(std::time_t when);

}  // namespace loopmon
