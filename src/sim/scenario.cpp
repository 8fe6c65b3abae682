#include "sim/scenario.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <sstream>

#include "platform/system/text_scan.h"

namespace loopmon::sim {

namespace {

// A line read on Linux from a file written on Windows keeps its CR.
constexpr std::string_view LineBlanks = " \t\r";

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::vector<std::string> words(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string word; in >> word;) result.push_back(word);
  return result;
}

class Parser {
 public:
  explicit Parser(const std::string& text) : text_(text) {}

  Scenario run() {
    std::istringstream in(text_);
    std::string raw;
    while (std::getline(in, raw)) {
      ++line_;
      const std::string entry(trimmed(stripComment(raw), LineBlanks));
      if (entry.empty()) continue;
      if (entry.front() == '[') {
        openSection(entry);
      } else {
        const auto equals = entry.find('=');
        if (equals == std::string::npos) fail("expected \"name = value\"");
        setValue(lower(std::string(trimmed(entry.substr(0, equals), LineBlanks))),
                 std::string(trimmed(entry.substr(equals + 1), LineBlanks)));
      }
    }
    for (auto& device : scenario_.devices) {
      if (device.loopCount == 0) device.loopCount = defaultLoopCount(device.type);
      if (!device.latencyMicros) device.latencyMicros = scenario_.latencyMicros;
    }
    return scenario_;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw ScenarioError("line " + std::to_string(line_) + ": " + what);
  }

  static std::string stripComment(const std::string& raw) {
    const auto mark = raw.find_first_of(";#");
    return mark == std::string::npos ? raw : raw.substr(0, mark);
  }

  uint64_t number(const std::string& text, uint64_t max) const {
    uint64_t value = 0;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* first = text.data() + (hex ? 2 : 0);
    const char* last = text.data() + text.size();
    auto [end, error] = std::from_chars(first, last, value, hex ? 16 : 10);
    if (text.empty() || error != std::errc() || end != last)
      fail("\"" + text + "\" is not a number");
    if (value > max) fail(text + " is above " + std::to_string(max));
    return value;
  }

  uint8_t byte(const std::string& text) const { return static_cast<uint8_t>(number(text, 255)); }

  bool flag(const std::string& text) const {
    const std::string value = lower(text);
    if (value == "yes" || value == "true" || value == "1" || value == "on") return true;
    if (value == "no" || value == "false" || value == "0" || value == "off") return false;
    fail("\"" + text + "\" is neither yes nor no");
  }

  void openSection(const std::string& entry) {
    if (entry.back() != ']') fail("a section line ends with ]");
    const auto name = words(lower(entry.substr(1, entry.size() - 2)));
    if (name.size() == 1 && name[0] == "bus") {
      device_ = nullptr;
      return;
    }
    if (name.size() != 2 || name[0] != "device") fail("sections are [bus] and [device ADDRESS]");
    const auto address = static_cast<uint8_t>(number(name[1], 127));
    if (address == 0) fail("device addresses are 1..127");
    for (const auto& known : scenario_.devices) {
      if (known.address == address) fail("device " + name[1] + " appears twice");
    }
    device_ = &scenario_.devices.emplace_back();
    device_->address = address;
  }

  void setValue(const std::string& name, const std::string& value) {
    if (!device_) return setBusValue(name, value);
    DeviceSpec& d = *device_;
    if (name == "type") {
      d.type = byte(value);
    } else if (name == "version") {
      d.version = byte(value);
    } else if (name == "loops") {
      d.loopCount = static_cast<int>(number(value, 255));
    } else if (name == "key") {
      d.key = byte(value);
      if (*d.key == 0) fail("a key is 1..255");
    } else if (name == "false-code") {
      d.falseCode = byte(value);
    } else if (name == "refuse-identify") {
      d.refusesIdentify = flag(value);
    } else if (name == "silent") {
      d.silent = flag(value);
    } else if (name == "away") {
      const auto parts = words(value);
      if (parts.size() != 2) fail("away is two numbers: the presence request, then the requests");
      d.awayAt = static_cast<int>(number(parts[0], 1'000'000));
      d.awayFor = static_cast<int>(number(parts[1], 1'000'000));
    } else if (name == "ignore") {
      for (const auto& command : words(value)) d.ignoredCommands.insert(byte(command));
    } else if (name == "drop") {
      d.dropPercent = static_cast<int>(number(value, 100));
    } else if (name == "deaf-first") {
      d.deafFirst = static_cast<int>(number(value, 1000));
    } else if (name == "loop-events") {
      d.loopEvents = flag(value);
    } else if (name == "event") {
      const auto parts = words(value);
      if (parts.size() != 3) fail("an event is three numbers: code, data, data");
      d.events.push_back({byte(parts[0]), byte(parts[1]), byte(parts[2])});
    } else if (name == "latency-us") {
      d.latencyMicros = static_cast<uint32_t>(number(value, 1'000'000));
    } else if (name == "late-us") {
      d.lateMicros = static_cast<uint32_t>(number(value, 10'000'000));
    } else if (name == "answers") {
      d.answerFaults = answerFaults(value);
    } else if (name.starts_with("loop.")) {
      d.loops[itemNumber(name, 255)] = loopSpec(value);
    } else if (name.starts_with("line.")) {
      d.lineDevices[itemNumber(name, 127)] = lineDevice(value);
    } else {
      fail("unknown device setting \"" + name + "\"");
    }
  }

  void setBusValue(const std::string& name, const std::string& value) {
    if (name == "crc") {
      const std::string table = lower(value);
      if (table == "carried") {
        scenario_.crcTable = CrcTable::Carried;
      } else if (table == "published") {
        scenario_.crcTable = CrcTable::Published;
      } else {
        fail("crc is carried or published");
      }
    } else if (name == "seed") {
      scenario_.seed = number(value, UINT64_MAX);
    } else if (name == "drift") {
      scenario_.drift = flag(value);
    } else if (name == "latency-us") {
      scenario_.latencyMicros = static_cast<uint32_t>(number(value, 1'000'000));
    } else {
      fail("unknown bus setting \"" + name + "\"");
    }
  }

  int itemNumber(const std::string& name, uint64_t max) const {
    const auto value = number(name.substr(name.find('.') + 1), max);
    if (value == 0) fail("numbers start at 1");
    return static_cast<int>(value);
  }

  LoopSpec loopSpec(const std::string& value) const {
    LoopSpec spec;
    std::istringstream items(value);
    for (std::string item; std::getline(items, item, ',');) {
      const auto parts = words(lower(item));
      if (parts.size() == 1 && parts[0] == "armed") {
        spec.restState = LoopState::Armed;
      } else if (parts.size() == 1 && parts[0] == "disarmed") {
        spec.restState = LoopState::Disarmed;
      } else if (parts.size() == 1 && parts[0] == "off") {
        spec.restState = LoopState::Disabled;
      } else if (parts.size() == 2 && parts[0] == "state") {
        spec.pinnedState = byte(parts[1]);
      } else if (parts.size() >= 2 && parts[0] == "script") {
        spec.script.clear();
        for (size_t i = 1; i < parts.size(); ++i) spec.script.push_back(byte(parts[i]));
      } else if (parts.size() == 1) {
        spec.pinnedAdc = byte(parts[0]);
      } else {
        fail("a loop is a reading, armed, disarmed, off, \"state CODE\" or \"script READING...\"");
      }
    }
    return spec;
  }

  std::vector<AnswerFault> answerFaults(std::string value) const {
    static const std::map<std::string, AnswerFault> names{
        {"ok", AnswerFault::None},         {"none", AnswerFault::Lost},
        {"late", AnswerFault::Late},       {"crc", AnswerFault::Checksum},
        {"length", AnswerFault::Length},   {"short", AnswerFault::Short},
        {"address", AnswerFault::Address}, {"other-address", AnswerFault::Address},
        {"echo", AnswerFault::Echo},       {"other-code", AnswerFault::Code},
    };
    std::replace(value.begin(), value.end(), ',', ' ');
    std::vector<AnswerFault> faults;
    for (const auto& word : words(lower(value))) {
      const auto found = names.find(word);
      if (found == names.end())
        fail("an answer is ok, none, late, crc, length, short, address, echo or other-code");
      faults.push_back(found->second);
    }
    if (faults.empty()) fail("answers needs at least one of ok, none, late, crc, ...");
    return faults;
  }

  LineDeviceSpec lineDevice(const std::string& value) const {
    const std::string text = lower(value);
    if (text == "off") return {0, 1};
    if (text == "unsupported") return {0, 2};
    if (text == "not-ready") return {0, 4};
    const auto parts = words(text);
    if (parts.size() == 2 && parts[0] == "condition") return {0, byte(parts[1])};
    return {1, byte(value)};
  }

  const std::string& text_;
  Scenario scenario_;
  DeviceSpec* device_ = nullptr;
  int line_ = 0;
};

}  // namespace

int defaultLoopCount(uint8_t type) {
  switch (type) {
    case 1:
    case 2:
    case 11:
      return 20;
    case 4:
      return 4;
    case 9:
      return 127;
    default:
      return 8;
  }
}

Scenario parseScenario(const std::string& text) {
  return Parser(text).run();
}

Scenario loadScenarioFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ScenarioError("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  try {
    return parseScenario(text.str());
  } catch (const ScenarioError& error) {
    throw ScenarioError(path + ", " + error.what());
  }
}

const std::string& demoScenarioText() {
  static const std::string text = R"(; The demo bus that loopsim plays when no scenario is given.
[bus]
crc = carried
seed = 1

[device 5]
type = 1            ; "Mivra-Q", version 1.05
version = 105
loop.3 = 0          ; an open loop
loop.7 = off
loop.12 = disarmed

[device 12]
type = 2            ; "Mivra-QX"
version = 110
loop-events = yes

[device 20]
type = 4            ; "Hovra-J", four loops
version = 102
loop-events = yes
event = 4 3 2       ; an alarm on loop 2, pending until acknowledged

[device 63]
type = 11           ; "Mivra-QW": its presence request runs through checksum entry 0xF9
version = 105

[device 127]
type = 9            ; "Hovra-Y" with devices on its line
version = 101
line.1 = 5
line.2 = 4
line.3 = 2
line.4 = 6
line.5 = 1
line.6 = 7
line.7 = 3
line.8 = 9          ; a kind the program does not know
line.9 = not-ready
line.10 = unsupported
)";
  return text;
}

Scenario demoScenario() {
  return parseScenario(demoScenarioText());
}

}  // namespace loopmon::sim
