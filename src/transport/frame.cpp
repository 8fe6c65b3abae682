#include "transport/frame.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <random>

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

bool isEventCode(uint8_t code) {
  return code == 4 || code == 12 || code == 14;
}

Bytes acknowledgementRequest(uint8_t address) {
  return {static_cast<uint8_t>(address & 0x7F), 6, 0, 3, 0, 1};
}

Bytes keyRequest(const Bytes& request, bool keyedMode, const uint16_t* keyWords,
                 uint8_t (*modifier)()) {
  Bytes copy = request;
  if (!keyedMode || copy.size() < 6) return copy;
  const uint8_t address = copy[FrameOffset::Address];
  if (address >= KeyWordCount) return copy;
  const uint16_t word = keyWords[address];
  if (word < 1 || word > 255) return copy;
  copy[FrameOffset::Address] = static_cast<uint8_t>(address + 128);
  copy[FrameOffset::Modifier] = modifier();
  return copy;
}

uint8_t randomModifier() {
  thread_local std::mt19937 generator{std::random_device{}()};
  std::uniform_int_distribution<int> oneTo254(1, 254);
  return static_cast<uint8_t>(oneTo254(generator));
}

Bytes buildFrame(const Bytes& request, const uint16_t* keyWords, CrcTable table,
                 std::optional<uint8_t>& key) {
  key.reset();
  const size_t n = request.size();
  if (n >= MaxFrameBytes) return {};
  Bytes frame = request;
  if (n >= 5 && frame[FrameOffset::Address] >= 128) {
    const uint16_t word = keyWords[frame[FrameOffset::Address] - 128];
    if (word > 255) return {};
    key = static_cast<uint8_t>(word ^ frame[FrameOffset::Modifier]);
    for (size_t i = FrameOffset::Command; i < n; ++i) frame[i] ^= *key;
  }
  frame.push_back(FrameChecksum(frame, table));
  return frame;
}

void unscrambleAnswer(Bytes& answer, std::optional<uint8_t> key) {
  if (answer.empty()) return;
  answer[FrameOffset::Address] &= 0x7F;
  if (!key) return;
  for (size_t i = FrameOffset::Code; i < answer.size(); ++i) answer[i] ^= *key;
}

bool lineAnswerAccepted(const uint8_t* bytes, size_t count, CrcTable table) {
  if (count < MinAnswerBytes || count > MaxAnswerBytes) return false;
  if (size_t{bytes[FrameOffset::Length]} + 1 != count) return false;
  return FrameChecksum(bytes, count - 1, table) == bytes[count - 1];
}

bool repeatsRequest(const Bytes& frame, const uint8_t* bytes, size_t count) {
  return count == frame.size() && std::equal(frame.begin(), frame.end(), bytes);
}

size_t simulatorAnswerLength(const uint8_t* bytes, size_t count, CrcTable table) {
  if (count < 2 || bytes[FrameOffset::Address] == 0) return 0;
  const size_t m = bytes[FrameOffset::Length] + 1u;
  if (m > MaxFrameBytes || m > count) return 0;
  if (FrameChecksum(bytes, m - 1, table) != bytes[m - 1]) return 0;
  return m;
}

std::string frameToText(const Bytes& frame) {
  std::string text;
  for (size_t i = 0; i < frame.size(); ++i) {
    if (i) text += ' ';
    text += std::to_string(frame[i]);
  }
  return text;
}

std::string frameHex(const uint8_t* bytes, size_t count) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(count * 3);
  for (size_t i = 0; i < count; ++i) {
    if (i) text += ' ';
    text += Digits[bytes[i] >> 4];
    text += Digits[bytes[i] & 0x0F];
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
