// Frame texts from the simulator, answers from the line and the simulator, and
// requests turned into frames.

#include <algorithm>

#include "fuzz_check.h"
#include "sim/trace.h"
#include "transport/frame.h"
#include "transport/sim_exchange.h"

using namespace loopmon;
using fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = fuzz::textOf(data, size);
  if (const auto bytes = frameFromText(text)) {
    require(bytes->size() <= MaxFrameBytes, "a parsed text fits a frame");
    require(frameFromText(frameToText(*bytes)) == bytes, "a frame's text reads back as the frame");
    SimulatorBuffer buffer;
    require(ParseFrameText(text, buffer) && buffer.count == bytes->size(),
            "the simulator buffer takes what the text holds");
  }

  for (CrcTable table : {CrcTable::Carried, CrcTable::Published}) {
    if (lineAnswerAccepted(data, size, table)) {
      require(size >= 6 && size <= 31, "an accepted answer is 6 to 31 bytes");
      require(FrameChecksum(data, size, table) == 0, "an accepted answer checks to zero");
    }
    const size_t held = std::min(size, MaxFrameBytes);
    if (const size_t m = simulatorAnswerLength(data, held, table)) {
      require(m >= 2 && m <= held, "a simulator answer lies within the reply");
      require(FrameChecksum(data, m, table) == 0, "a simulator answer checks to zero");
    }

    const Bytes request(data, data + std::min(size, MaxFrameBytes));
    uint16_t keyWords[KeyWordCount];
    for (size_t i = 0; i < KeyWordCount; ++i) keyWords[i] = static_cast<uint16_t>(i * 3);
    std::optional<uint8_t> key;
    const Bytes frame = buildFrame(request, keyWords, table, key);
    if (!frame.empty()) {
      require(frame.size() == request.size() + 1, "a frame is its request and a checksum");
      require(FrameChecksum(frame, table) == 0, "a built frame checks to zero");
      Bytes answer = frame;
      unscrambleAnswer(answer, key);
      require(answer.size() == frame.size() && answer[0] < 128, "an answer loses bit 7 only");
    }
    sim::describeFrame(request, sim::FrameRole::Request, table);
    sim::describeFrame(request, sim::FrameRole::Answer, table);
  }
  return 0;
}
