#include "sim/trace.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "platform/local_time.h"

namespace loopmon::sim {

namespace {

std::string hex(const uint8_t* bytes, size_t count) {
  std::string text;
  char piece[4];
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(piece, sizeof(piece), i ? " %02X" : "%02X", bytes[i]);
    text += piece;
  }
  return text;
}

}  // namespace

std::string describeFrame(const Bytes& frame, FrameRole role, CrcTable table) {
  std::string text = hex(frame.data(), frame.size());
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
  text += " data";
  text +=
      checksumAt > dataStart ? " " + hex(frame.data() + dataStart, checksumAt - dataStart) : " -";
  if (frame[FrameOffset::Length] + 1u != frame.size()) text += " | length byte wrong";
  text += FrameChecksum(frame.data(), checksumAt, table) == frame[checksumAt] ? " | crc ok"
                                                                              : " | crc bad";
  return text;
}

void traceLine(const std::string& text) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto micros =
      std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count() %
      1'000'000;
  const std::tm local = localTimeOf(seconds).calendar;
  std::printf("%02d:%02d:%02d.%06lld %s\n", local.tm_hour, local.tm_min, local.tm_sec,
              static_cast<long long>(micros), text.c_str());
  std::fflush(stdout);
}

}  // namespace loopmon::sim
