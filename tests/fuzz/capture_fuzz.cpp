// A file offered for replay: taken or refused with a reason, never read past
// its end; what it yields is replayed, and a capture of its packets reads
// back the same frames.

#include <algorithm>

#include "fuzz_check.h"
#include "sim/replay.h"
#include "traffic/capture.h"

using namespace loopmon;
using fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string content = fuzz::textOf(data, size);
  std::vector<CapturedPacket> packets;
  try {
    packets = readCapture(content);
  } catch (const CaptureError& error) {
    require(error.what()[0] != '\0', "a refusal says why");
    return 0;
  }
  const auto table = sim::ReplayTable::fromCapture(content);
  require(table->size() <= packets.size(), "no more answers than packets");

  CaptureWriter writer("fuzz");
  uint64_t exchange = 0;
  for (const CapturedPacket& packet : packets) {
    TraceRecord record;
    record.exchange = ++exchange;
    record.requestSize = static_cast<uint8_t>(std::min(packet.frame.size(), MaxFrameBytes));
    std::copy_n(packet.frame.begin(), record.requestSize, record.request.begin());
    writer.add(record);
  }
  const std::vector<CapturedPacket> again = readCapture(writer.content());
  require(again.size() == packets.size(), "every packet written is read back");
  for (size_t i = 0; i < again.size(); ++i) {
    const size_t kept = std::min(packets[i].frame.size(), MaxFrameBytes);
    require(again[i].frame == Bytes(packets[i].frame.begin(), packets[i].frame.begin() + kept),
            "a frame reads back as written");
  }
  return 0;
}
