#pragma once
// Frames in the bytes a simulated line has received: the line carries padding,
// echoes and garbage between requests, and nothing marks where a frame starts.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "transport/frame.h"

namespace loopmon::sim {

struct FoundFrame {
  size_t start;   // bytes before it are garbage or the sender's 0xFF padding
  size_t length;  // checksum included
};

// The first complete frame (Length 5 or more) whose checksum holds.
std::optional<FoundFrame> findFrame(const uint8_t* bytes, size_t count, CrcTable table);

}  // namespace loopmon::sim
