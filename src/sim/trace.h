#pragma once
// The --trace lines of loopsim: every frame with a timestamp, in hex and decoded.

#include <string>

#include "traffic/frame_meaning.h"
#include "transport/frame.h"

namespace loopmon::sim {

using loopmon::FrameRole;

// "05 06 00 01 00 00 DC | addr 5 cmd 0x01 data 00 00 | crc ok | presence?"
std::string describeFrame(const Bytes& frame, FrameRole role, CrcTable table);

// Prints "HH:MM:SS.uuuuuu <text>" on standard output at once.
void traceLine(const std::string& text);

}  // namespace loopmon::sim
