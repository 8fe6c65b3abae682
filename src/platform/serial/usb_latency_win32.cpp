// Windows keeps the FTDI timer in the driver's own settings (the port's
// Advanced properties); it is not the system's to read here.

#include "platform/serial/usb_latency.h"

namespace loopmon {

std::optional<int> readLatencyTimer(const PortEntry&) {
  return std::nullopt;
}

bool setLatencyTimer(const PortEntry&, int, std::string& why) {
  why = "set it in the port's Advanced properties in the Device Manager";
  return false;
}

}  // namespace loopmon
