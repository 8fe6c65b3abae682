#pragma once
// The port a session opens, whichever kind of line its name leads to.

#include <memory>

#include "platform/serial/serial_port.h"
#include "platform/system/clock.h"

namespace loopmon {

class Registry;

// A remote line when the name, or the device `registry` maps a COMn name to,
// is a remote line name; the local serial port otherwise. The remote line
// waits on `clock`.
std::unique_ptr<SerialPort> makeLinePort(std::shared_ptr<const Registry> registry,
                                         std::shared_ptr<Clock> clock);

}  // namespace loopmon
