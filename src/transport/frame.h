#pragma once
// Bus frames: the CRC-8 checksum, the keyed (scrambled) form and the decimal
// text form used with the simulator.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace loopmon {

// A frame's bytes without the count byte; at most 255 of them.
using Bytes = std::vector<uint8_t>;
inline constexpr size_t MaxFrameBytes = 255;
// The lengths an answer on the line may have, checksum included.
inline constexpr size_t MinAnswerBytes = 6;
inline constexpr size_t MaxAnswerBytes = 31;
// One 10-bit character (start, 8 data, stop) at the bus's fixed 9600 baud.
inline constexpr int64_t CharacterMicros = 1041;

// Offsets within a frame.
namespace FrameOffset {
inline constexpr size_t Address = 0;
inline constexpr size_t Length = 1;
inline constexpr size_t Modifier = 2;  // requests
inline constexpr size_t Code = 2;      // answers
inline constexpr size_t Command = 3;   // requests
// A request's data bytes follow its Command (the loop asked for first); an
// answer's two follow its Code.
inline constexpr size_t RequestData = 4;
inline constexpr size_t AnswerData = 3;
}  // namespace FrameOffset

// The two data bytes of each answer the system reads.
namespace AnswerField {
// Identify.
inline constexpr size_t DeviceType = FrameOffset::AnswerData;
inline constexpr size_t DeviceVersion = FrameOffset::AnswerData + 1;
// A loop's ADC reading, state code or kind, and a line device's class and value.
inline constexpr size_t LineClass = FrameOffset::AnswerData;
inline constexpr size_t LoopValue = FrameOffset::AnswerData + 1;
// An event (code 4): the event, then the loop.
inline constexpr size_t EventCode = FrameOffset::AnswerData;
inline constexpr size_t EventLoop = FrameOffset::AnswerData + 1;
// A loop's state event (code 26): the loop, then its state.
inline constexpr size_t StateLoop = FrameOffset::AnswerData;
inline constexpr size_t StateCode = FrameOffset::AnswerData + 1;
}  // namespace AnswerField

// Request commands and answer codes of the devices on the bus.
namespace BusCommand {
inline constexpr uint8_t Presence = 0x01;
inline constexpr uint8_t Acknowledge = 0x03;
inline constexpr uint8_t Identify = 0x0D;
inline constexpr uint8_t LoopState = 0x19;
inline constexpr uint8_t LoopAdc = 0x1B;
inline constexpr uint8_t LineDevice = 0x39;
}  // namespace BusCommand

namespace BusAnswer {
inline constexpr uint8_t Identity = 0x00;
inline constexpr uint8_t Present = 0x02;
inline constexpr uint8_t Refused = 0x0A;
inline constexpr uint8_t LoopState = 0x1A;
inline constexpr uint8_t LoopAdc = 0x1C;
inline constexpr uint8_t LineDevice = 0x3A;
}  // namespace BusAnswer

// Data of command 0x39: what is asked of the line device.
namespace LineQuery {
inline constexpr uint8_t Kind = 1;
inline constexpr uint8_t Reading = 4;
}  // namespace LineQuery

// Entry 0xF9 of the table differs between the table the field program carries
// (0xFC) and the one the published 1-Wire rule yields (0xE8).
enum class CrcTable { Carried, Published };

uint8_t FrameChecksum(const uint8_t* bytes, size_t count, CrcTable table = CrcTable::Carried);
inline uint8_t FrameChecksum(const Bytes& bytes, CrcTable table = CrcTable::Carried) {
  return FrameChecksum(bytes.data(), bytes.size(), table);
}

// True for answer codes 4, 12 and 14, which the master acknowledges.
bool isEventCode(uint8_t code);

// The plain acknowledgement request (without checksum) to `address`.
Bytes acknowledgementRequest(uint8_t address);

// Per-address key words: 1..255 a key, 0 plain form, above 255 key unknown.
inline constexpr uint16_t NoKey = 256;
// One key word per address 0..127.
inline constexpr size_t KeyWordCount = 128;

// Turns a request into the keyed form when keyed mode applies: keyed mode on,
// at least 6 bytes, a plain Address whose key word is 1..255. The keyed copy
// carries Address + 128 and a Modifier from `modifier`, which must yield
// 1..254. Anything else is returned unchanged.
Bytes keyRequest(const Bytes& request, bool keyedMode, const uint16_t* keyWords,
                 uint8_t (*modifier)());

// A uniformly distributed Modifier 1..254.
uint8_t randomModifier();

// Builds the final frame: scrambles Command and Data when the request is keyed
// (n >= 5 and Address >= 128) and appends the checksum. `key` receives the
// scrambling key, or nullopt for a plain request. Returns an empty frame for a
// request that must not go on the line: a keyed one whose address has no
// known key (word above 255), or one of more than 254 bytes, whose checksum
// would not fit a frame.
Bytes buildFrame(const Bytes& request, const uint16_t* keyWords, CrcTable table,
                 std::optional<uint8_t>& key);

// Descrambles a received answer in place: Address bit 7 dropped, and every byte
// from offset 2 XORed with `key` when there is one.
void unscrambleAnswer(Bytes& answer, std::optional<uint8_t> key);

// An answer read from the line is accepted when it is 6 to 31 bytes long, its
// Length + 1 is the number of bytes received and its checksum holds.
bool lineAnswerAccepted(const uint8_t* bytes, size_t count, CrcTable table);

// True when the bytes are the request frame itself: a converter's echo of the
// request read back. Its Length and checksum hold, so the checks above would
// take it for the device's answer.
bool repeatsRequest(const Bytes& frame, const uint8_t* bytes, size_t count);

// The length of the answer a simulator reply holds: Length + 1 when the reply
// has that many bytes (at most 255), a non-zero Address and a good checksum; 0
// otherwise. There is no 6..31 bound on this route.
size_t simulatorAnswerLength(const uint8_t* bytes, size_t count, CrcTable table);

// "5 6 0 1 0 0 220"
std::string frameToText(const Bytes& frame);
// "05 06 00 01 00 00 DC"
std::string frameHex(const uint8_t* bytes, size_t count);
inline std::string frameHex(const Bytes& frame) {
  return frameHex(frame.data(), frame.size());
}
// Parses the text form; nullopt for anything but single-space-separated
// decimal numbers 0..255 (at most 255 of them). "" parses to no bytes.
std::optional<Bytes> frameFromText(const std::string& text);

}  // namespace loopmon
