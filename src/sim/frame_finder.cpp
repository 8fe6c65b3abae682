#include "sim/frame_finder.h"

namespace loopmon::sim {

std::optional<FoundFrame> findFrame(const uint8_t* bytes, size_t count, CrcTable table) {
  for (size_t start = 0; start + 6 <= count; ++start) {
    const size_t lengthByte = bytes[start + FrameOffset::Length];
    if (lengthByte < 5 || start + lengthByte + 1 > count) continue;
    if (FrameChecksum(bytes + start, lengthByte, table) == bytes[start + lengthByte]) {
      return FoundFrame{start, lengthByte + 1};
    }
  }
  return std::nullopt;
}

}  // namespace loopmon::sim
