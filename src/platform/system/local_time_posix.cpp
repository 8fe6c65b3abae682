#include "platform/system/local_time.h"

namespace loopmon {

LocalTime localTimeOf(std::time_t when) {
  LocalTime local;
  ::localtime_r(&when, &local.calendar);
  local.utcOffsetMinutes = static_cast<int>(local.calendar.tm_gmtoff / 60);
  return local;
}

}  // namespace loopmon
