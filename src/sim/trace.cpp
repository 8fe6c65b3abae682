#include "sim/trace.h"

#include <chrono>
#include <cstdio>

#include "traffic/trace_text.h"

namespace loopmon::sim {

std::string describeFrame(const Bytes& frame, FrameRole role, CrcTable table) {
  std::string text = frameHex(frame);
  // Address, length, code or modifier and command, checksum.
  const size_t dataStart = role == FrameRole::Request ? 4 : 3;
  if (frame.size() < dataStart + 1) return text + " | too short";
  const uint8_t address = frame[FrameOffset::Address];
  char head[64];
  std::snprintf(head, sizeof(head), " | addr %u%s %s 0x%02X", address & 0x7F,
                (address & 0x80) ? " keyed" : "", role == FrameRole::Request ? "cmd" : "code",
                frame[dataStart - 1]);
  text += head;
  const size_t checksumAt = frame.size() - 1;
  // Appended piece by piece: GCC 12 warns falsely of a huge copy in " " + text.
  text += " data ";
  text += checksumAt > dataStart ? frameHex(frame.data() + dataStart, checksumAt - dataStart) : "-";
  const bool lengthRight = frame[FrameOffset::Length] + 1u == frame.size();
  if (!lengthRight) text += " | length byte wrong";
  const bool checksumRight = FrameChecksum(frame.data(), checksumAt, table) == frame[checksumAt];
  text += checksumRight ? " | crc ok" : " | crc bad";
  // The scrambled bytes of a keyed frame say nothing without the key.
  if (lengthRight && checksumRight && !(address & 0x80)) text += " | " + frameMeaning(frame, role);
  return text;
}

void traceLine(const std::string& text) {
  const auto now = std::chrono::system_clock::now();
  const auto micros =
      std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count();
  std::printf("%s %s\n", clockTime(micros).c_str(), text.c_str());
  std::fflush(stdout);
}

}  // namespace loopmon::sim
