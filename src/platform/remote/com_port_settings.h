#pragma once
// A serial line's settings as the RFC 2217 commands that set them on the
// server's line.

#include <vector>

#include "platform/remote/telnet_codec.h"
#include "platform/serial/serial_port.h"

namespace loopmon {

// Speed, data size, parity and stop bits of `state`, then the server's own
// flow control off: the bus has no handshake lines.
std::vector<TelnetBytes> comPortSettingCommands(const CommState& state);

}  // namespace loopmon
