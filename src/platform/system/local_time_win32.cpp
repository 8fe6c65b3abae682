#include "platform/system/local_time.h"

namespace loopmon {

LocalTime localTimeOf(std::time_t when) {
  LocalTime local;
  localtime_s(&local.calendar, &when);
  // The local fields read as if they were UTC, less the instant itself.
  std::tm fields = local.calendar;
  local.utcOffsetMinutes = static_cast<int>((_mkgmtime(&fields) - when) / 60);
  return local;
}

}  // namespace loopmon
