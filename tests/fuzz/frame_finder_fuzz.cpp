// Bytes on the simulated line: a frame found is whole and checks, and a frame
// sent after any garbage is never missed.

#include "fuzz_check.h"
#include "sim/frame_finder.h"

using namespace loopmon;
using fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const CrcTable table = size % 2 ? CrcTable::Published : CrcTable::Carried;
  if (const auto found = sim::findFrame(data, size, table)) {
    require(found->length >= 6 && found->start + found->length <= size, "a frame lies within");
    require(found->length == size_t{data[found->start + 1]} + 1u, "a frame is as long as it says");
    require(FrameChecksum(data + found->start, found->length, table) == 0, "a frame checks");
  }

  Bytes line(data, data + size);
  const size_t sent = line.size();
  Bytes request{5, 6, 0, BusCommand::Presence, 0, 0};
  request.push_back(FrameChecksum(request, table));
  line.insert(line.end(), request.begin(), request.end());
  const auto found = sim::findFrame(line.data(), line.size(), table);
  require(found && found->start <= sent, "a frame after garbage is found");
  return 0;
}
