#pragma once
// What the simulator plays: the bus-wide settings and one description per
// device, read from a small INI text (documented in src/sim/README.md).

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "transport/frame.h"

namespace loopmon::sim {

// Loop state codes a device reports for command 0x19.
namespace LoopState {
inline constexpr uint8_t Alarm = 3;       // "тревога"
inline constexpr uint8_t Armed = 24;      // "на охране"
inline constexpr uint8_t Attention = 44;  // "внимание": the loop is open or shorted
inline constexpr uint8_t Disarmed = 109;  // "не на охране"
inline constexpr uint8_t Disabled = 187;  // "отключен"
}  // namespace LoopState

struct LoopSpec {
  std::optional<uint8_t> pinnedAdc;      // the reading never moves
  uint8_t restState = LoopState::Armed;  // state while the loop is in order
  std::optional<uint8_t> pinnedState;    // reported whatever the reading
  // Readings played in turn, one per read of the loop, from the first again
  // after the last: a loop whose every move is known in advance.
  std::vector<uint8_t> script;
};

// What a type-9 device reports for a line device number: class 1 with the
// kind code, or class 0 with a condition (1 off, 2 not supported, 4 not ready).
struct LineDeviceSpec {
  uint8_t answerClass = 1;
  uint8_t value = 0;
};

struct EventAnswer {
  uint8_t code = 4;
  uint8_t data1 = 0;
  uint8_t data2 = 0;
  bool operator==(const EventAnswer&) const = default;
};

// How one answer of a device goes astray on its way (scenario key "answers").
enum class AnswerFault {
  None,      // "ok": as it should
  Lost,      // "none": never sent
  Late,      // "late": after the device's late-us instead of its latency (pty)
  Checksum,  // "crc": a wrong checksum
  Length,    // "length": a Length byte one too small, checksum over the bytes as sent
  Short,     // "short": only Address, Length and Code
  Address,   // "address" or "other-address": from the next address up, checksum to match
  Echo,      // "echo": the request's own bytes instead of an answer
  Code,      // "other-code": another request's kind of answer from the device asked
};

struct DeviceSpec {
  uint8_t address = 0;
  uint8_t type = 1;
  uint8_t version = 100;
  int loopCount = 0;                 // loops 1..loopCount
  std::optional<uint8_t> key;        // answers keyed requests when set
  std::optional<uint8_t> falseCode;  // answers every request with this code
  bool refusesIdentify = false;      // answers command 13 with code 10
  bool silent = false;               // never answers
  // From its awayAt-th presence request on (from 1), it hears none of the
  // next awayFor requests: a device that leaves the bus and comes back.
  int awayAt = 0;
  int awayFor = 0;
  std::set<uint8_t> ignoredCommands;      // commands it never answers
  int dropPercent = 0;                    // share of requests it does not hear
  int deafFirst = 0;                      // its first requests that it does not hear
  bool loopEvents = false;                // a loop changing state raises an event answer
  std::vector<EventAnswer> events;        // pending at start, oldest first
  std::optional<uint32_t> latencyMicros;  // line mode: from the request's end to the answer
  uint32_t lateMicros = 50'000;           // line mode: the same for a "late" answer
  // Played in turn, one per answer the device gives, from the first again
  // after the last; empty: every answer as it should.
  std::vector<AnswerFault> answerFaults;
  std::map<int, LoopSpec> loops;
  std::map<int, LineDeviceSpec> lineDevices;
};

struct Scenario {
  CrcTable crcTable = CrcTable::Carried;
  uint64_t seed = 1;
  bool drift = true;
  uint32_t latencyMicros = 2000;  // for devices that name none
  std::vector<DeviceSpec> devices;
};

class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Number of loops a device of this type reports when the scenario names none.
int defaultLoopCount(uint8_t type);

// Parses a scenario; throws ScenarioError naming the line at fault.
Scenario parseScenario(const std::string& text);
Scenario loadScenarioFile(const std::string& path);

// The built-in demo bus, as INI text and parsed.
const std::string& demoScenarioText();
Scenario demoScenario();

}  // namespace loopmon::sim
