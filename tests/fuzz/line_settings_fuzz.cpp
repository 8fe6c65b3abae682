// Any DWORDs stored as line settings give every read, local or remote, a
// deadline within the documented bounds: 100 ms a byte and 10 s, and the
// NetworkAllowance of at most 5 s on a remote line.

#include <chrono>

#include "fuzz_check.h"
#include "platform/serial/read_deadline.h"
#include "platform/store/registry_document.h"
#include "transport/line_settings.h"

using namespace loopmon;
using fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const Names[] = {
      "IntervalTimeout",    "TimeoutMultiplier",    "TimeoutConstant",
      "CmdIntervalTimeout", "CmdTimeoutMultiplier", "CmdTimeoutConstant",
      "NetworkAllowance",   "StartTimeout",         "TailInUS"};
  RegistryDocument registry;
  registry.createKey(LineSettingsKey);
  // Four bytes a value, in the order above; a value the data does not reach stays absent.
  for (size_t i = 0; i < std::size(Names) && (i + 1) * 4 <= size; ++i) {
    const uint32_t value = uint32_t{data[i * 4]} | uint32_t{data[i * 4 + 1]} << 8 |
                           uint32_t{data[i * 4 + 2]} << 16 | uint32_t{data[i * 4 + 3]} << 24;
    registry.write(LineSettingsKey, Names[i], RegValue::ofDword(value));
  }
  const LineSettings settings = ReadLineSettings(registry, true);
  require(settings.StartTimeout <= 1000 && settings.TailInUS <= 20000,
          "the pauses stay within their bounds");
  const ReadDeadline::TimePoint start{};
  for (const bool shortClass : {true, false}) {
    for (const bool remote : {false, true}) {
      const CommTimeouts timeouts = ReadTimeouts(settings, shortClass, remote);
      for (const size_t count : {size_t{1}, size_t{6}, size_t{26}}) {
        const auto bound = std::chrono::milliseconds(100 * count + 10'000 + (remote ? 5'000 : 0));
        ReadDeadline read(timeouts, count, start);
        require(read.remaining(start, 0) <= bound, "the first byte is waited for within bounds");
        read.bytesArrived(start);
        require(read.remaining(start, 1) <= bound, "the next bytes are waited for within bounds");
      }
    }
  }
  return 0;
}
