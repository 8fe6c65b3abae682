#include "transport/line_settings.h"

#include <algorithm>
#include <optional>
#include <string>

#include "platform/store/registry.h"
#include "transport/bus_state.h"

namespace loopmon {

namespace {

// A DWORD line setting, or nullopt when absent. Values are taken as the
// unsigned 32-bit numbers the registry holds: a "negative" entry becomes a
// very large one rather than wrapping somewhere later.
std::optional<uint32_t> readDword(const Registry& registry, const char* name) {
  std::optional<RegValue> value = registry.read(LineSettingsKey, name);
  if (!value) return std::nullopt;
  if (value->type != RegType::Dword) {
    throw LineSettingsError(std::string("The line setting \"") + name +
                            "\" is not a 32-bit number (DWORD)");
  }
  return value->dword;
}

void readInto(const Registry& registry, const char* name, uint32_t& field) {
  if (auto value = readDword(registry, name)) field = *value;
}

bool present(const Registry& registry, const char* name) {
  return registry.read(LineSettingsKey, name).has_value();
}

// The Win32 "MAXDWORD", which gives the read time-outs their special meanings.
constexpr uint32_t MaxDword = 0xFFFFFFFF;
constexpr uint32_t LongestIntervalMs = 10'000;
constexpr uint32_t LongestMultiplierMs = 100;
constexpr uint32_t LongestConstantMs = 10'000;
constexpr uint32_t LongestStartTimeoutMs = 1'000;
constexpr uint32_t LongestTailMicros = 20'000;
constexpr uint32_t LongestNetworkAllowanceMs = 5'000;

// One command class's read time-outs, brought into the documented range.
void boundReadTimeouts(uint32_t& interval, uint32_t& multiplier, uint32_t& constant,
                       uint32_t defaultConstant) {
  const bool firstBytesMode = interval == MaxDword && multiplier == MaxDword;
  if (interval != MaxDword) interval = std::min(interval, LongestIntervalMs);
  if (!firstBytesMode) multiplier = std::min(multiplier, LongestMultiplierMs);
  constant = std::min(constant, LongestConstantMs);
  // Without a constant, neither mode has a total limit: the first bytes (or
  // every byte) would be waited for without end.
  const bool unlimited =
      firstBytesMode ? constant == 0 : interval != MaxDword && multiplier == 0 && constant == 0;
  if (unlimited) constant = defaultConstant;
}

uint32_t saturatingSum(uint32_t a, uint32_t b) {
  return a > MaxDword - b ? MaxDword : a + b;
}

void bound(LineSettings& s) {
  const LineSettings defaults;
  boundReadTimeouts(s.IntervalTimeout, s.TimeoutMultiplier, s.TimeoutConstant,
                    defaults.TimeoutConstant);
  boundReadTimeouts(s.CmdIntervalTimeout, s.CmdTimeoutMultiplier, s.CmdTimeoutConstant,
                    defaults.CmdTimeoutConstant);
  s.StartTimeout = std::min(s.StartTimeout, LongestStartTimeoutMs);
  s.TailInUS = std::min(s.TailInUS, LongestTailMicros);
  s.NetworkAllowance = std::min(s.NetworkAllowance, LongestNetworkAllowanceMs);
}

}  // namespace

CommTimeouts ReadTimeouts(const LineSettings& s, bool shortClass, bool remote) {
  CommTimeouts timeouts;
  timeouts.readIntervalMs = shortClass ? s.IntervalTimeout : s.CmdIntervalTimeout;
  timeouts.readTotalMultiplierMs = shortClass ? s.TimeoutMultiplier : s.CmdTimeoutMultiplier;
  timeouts.readTotalConstantMs = shortClass ? s.TimeoutConstant : s.CmdTimeoutConstant;
  if (!remote) return timeouts;
  if (timeouts.readIntervalMs != 0 && timeouts.readIntervalMs != MaxDword) {
    timeouts.readIntervalMs = saturatingSum(timeouts.readIntervalMs, s.NetworkAllowance);
  }
  timeouts.readTotalConstantMs = saturatingSum(timeouts.readTotalConstantMs, s.NetworkAllowance);
  return timeouts;
}

std::optional<CommTimeouts> AnswerWaitLengthened(const CommTimeouts& timeouts, uint32_t ms) {
  if (timeouts.readIntervalMs == MaxDword) return std::nullopt;
  CommTimeouts lengthened = timeouts;
  lengthened.readTotalConstantMs = saturatingSum(timeouts.readTotalConstantMs, ms);
  return lengthened;
}

void LoadLineSettings(BusState& bus) {
  bus.Settings = ReadLineSettings(*bus.platform.registry, bus.platform.isNt || bus.platform.isNt5);
}

LineSettings ReadLineSettings(Registry& registry, bool ntFamily) {
  const Registry::Batch batch(registry);
  registry.createKey(LineSettingsKey);

  LineSettings s;
  readInto(registry, "IntervalTimeout", s.IntervalTimeout);
  s.SmartPI = present(registry, "SmartPI");
  s.USARTMode = present(registry, "USARTMode");
  readInto(registry, "TimeoutMultiplier", s.TimeoutMultiplier);
  readInto(registry, "TimeoutConstant", s.TimeoutConstant);
  readInto(registry, "CmdIntervalTimeout", s.CmdIntervalTimeout);
  readInto(registry, "CmdTimeoutMultiplier", s.CmdTimeoutMultiplier);
  readInto(registry, "CmdTimeoutConstant", s.CmdTimeoutConstant);
  if (auto value = readDword(registry, "DeviceTimeout")) {
    s.DeviceTimeout = static_cast<int32_t>(*value);
  }
  readInto(registry, "SpeedRSS", s.SpeedRSS);
  const std::optional<uint32_t> startTimeout = readDword(registry, "StartTimeout");
  const std::optional<uint32_t> tail = readDword(registry, "TailInUS");
  if (auto value = readDword(registry, "PublishedCrcTable")) s.PublishedCrcTable = *value == 1;
  readInto(registry, "NetworkAllowance", s.NetworkAllowance);
  if (auto value = readDword(registry, "KernelRS485")) s.KernelRS485 = *value == 1;

  // The two values a fresh installation lacks are written back, so that an
  // engineer finds them in the registry to adjust.
  if (startTimeout) {
    s.StartTimeout = *startTimeout;
  } else {
    if (ntFamily) s.StartTimeout = 4;
    registry.write(LineSettingsKey, "StartTimeout", RegValue::ofDword(s.StartTimeout));
  }
  if (tail) {
    s.TailInUS = *tail;
  } else {
    s.TailInUS = 400;
    registry.write(LineSettingsKey, "TailInUS", RegValue::ofDword(s.TailInUS));
  }
  bound(s);
  return s;
}

}  // namespace loopmon
