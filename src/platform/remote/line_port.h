#pragma once
// The port that a session opens: a remote line when the name, or the device a
// COMn name is mapped to, is a remote line name; the local serial port
// otherwise.

#include <memory>

#include "platform/serial/serial_port.h"
#include "platform/system/clock.h"

namespace loopmon {

class Registry;

// `registry` maps COMn names to devices; the remote line waits on `clock`.
std::unique_ptr<SerialPort> makeLinePort(std::shared_ptr<const Registry> registry,
                                         std::shared_ptr<Clock> clock);

}  // namespace loopmon
