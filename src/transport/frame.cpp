#include "transport/frame.h"

#include <array>
#include <charconv>

namespace loopmon {

namespace {

constexpr std::array<uint8_t, 256> publishedTable() {
  std::array<uint8_t, 256> table{};
  for (int i = 0; i < 256; ++i) {
    uint8_t crc = static_cast<uint8_t>(i);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1) ? static_cast<uint8_t>((crc >> 1) ^ 0x8C) : static_cast<uint8_t>(crc >> 1);
    }
    table[i] = crc;
  }
  return table;
}

// The devices in service were built against a table whose entry 0xF9 reads
// 0xFC; every other entry is the published one.
constexpr std::array<uint8_t, 256> carriedTable() {
  auto table = publishedTable();
  table[0xF9] = 0xFC;
  return table;
}

constexpr auto Published = publishedTable();
constexpr auto Carried = carriedTable();
static_assert(Published[0xF9] == 0xE8);

}  // namespace

uint8_t FrameChecksum(const uint8_t* bytes, size_t count, CrcTable table) {
  const auto& t = table == CrcTable::Carried ? Carried : Published;
  uint8_t crc = 0;
  for (size_t i = 0; i < count; ++i) crc = t[crc ^ bytes[i]];
  return crc;
}

bool isEventCode(uint8_t code) { return code == 4 || code == 12 || code == 14; }

Bytes acknowledgementRequest(uint8_t address) {
  return {static_cast<uint8_t>(address & 0x7F), 6, 0, 3, 0, 1};
}

std::string frameToText(const Bytes& frame) {
  std::string text;
  for (size_t i = 0; i < frame.size(); ++i) {
    if (i) text += ' ';
    text += std::to_string(frame[i]);
  }
  return text;
}

std::optional<Bytes> frameFromText(const std::string& text) {
  Bytes bytes;
  if (text.empty()) return bytes;
  const char* p = text.data();
  const char* end = p + text.size();
  while (true) {
    if (bytes.size() == MaxFrameBytes) return std::nullopt;
    unsigned value = 0;
    if (p == end || *p < '0' || *p > '9') return std::nullopt;
    auto [next, ec] = std::from_chars(p, end, value);
    if (ec != std::errc() || value > 255) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(value));
    p = next;
    if (p == end) return bytes;
    if (*p != ' ') return std::nullopt;
    ++p;
  }
}

}  // namespace loopmon
