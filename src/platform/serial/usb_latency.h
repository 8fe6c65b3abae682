#pragma once
// The latency timer of a USB serial converter: how long the converter holds
// received bytes before it hands them to the host (FTDI chips: 16 ms unless
// told otherwise). Every answer on the bus arrives that much later.

#include <optional>
#include <string>

#include "platform/serial/port_names.h"

namespace loopmon {

// In milliseconds; none when the port has no such timer the system exposes.
std::optional<int> readLatencyTimer(const PortEntry& port);

// Sets it; false with the system's reason in `why` when that is not permitted.
bool setLatencyTimer(const PortEntry& port, int ms, std::string& why);

}  // namespace loopmon
