#pragma once
#include <cstdint>
#include <optional>
#include <stdexcept>

#include "platform/serial/serial_port.h"

namespace loopmon {

class Registry;

// The registry line settings under HKLM\Software\TAVIX\VELTA\RS, as the
// engine uses them: LoadLineSettings brings each into the range below, so that
// no value can make an exchange wait for hours (what the registry holds is
// left as it is):
// - read interval time-outs: 0..10000 ms, or 0xFFFFFFFF (the port's own mark);
// - read total multipliers: 0..100 ms per byte, or 0xFFFFFFFF together with an
//   interval of 0xFFFFFFFF (return with the first bytes);
// - read total constants: 0..10000 ms; a class whose multiplier and constant
//   are both 0 (no total limit: a silent device would be waited for forever)
//   gets its default constant, 30 or 600 ms, and so does the return-with-the-
//   first-bytes mode (interval and multiplier 0xFFFFFFFF) with a constant of 0;
// - StartTimeout: 0..1000 ms; TailInUS: 0..20000 us; NetworkAllowance: 0..5000 ms.
struct LineSettings {
  uint32_t IntervalTimeout = 0;
  uint32_t TimeoutMultiplier = 0;
  uint32_t TimeoutConstant = 30;
  uint32_t CmdIntervalTimeout = 0;
  uint32_t CmdTimeoutMultiplier = 0;
  uint32_t CmdTimeoutConstant = 600;
  int32_t DeviceTimeout = 10;
  uint32_t SpeedRSS = 1240;
  uint32_t StartTimeout = 0;
  uint32_t TailInUS = 400;
  bool SmartPI = false;
  bool USARTMode = false;
  bool PublishedCrcTable = false;
  // Added to the read time-outs of a line behind a network server: the round
  // trip and the server's own gathering of the line's bytes. A port that
  // measures its network adds less, never more.
  uint32_t NetworkAllowance = 50;
  // DWORD KernelRS485 = 1: where the port's driver takes it (Linux
  // TIOCSRS485), the kernel turns the line round and the engine acts as with
  // SmartPI.
  bool KernelRS485 = false;
};

inline constexpr const char* LineSettingsKey = "Software\\TAVIX\\VELTA\\RS";

// The line settings in `registry`, brought into range, as LoadLineSettings
// reads them for a session (`ntFamily`: StartTimeout defaults to 4, else 0);
// writes back StartTimeout and TailInUS when absent. Throws LineSettingsError
// for a value of the wrong type.
LineSettings ReadLineSettings(Registry& registry, bool ntFamily);

// The read time-outs of an exchange in the short class (commands 1 and 3) or
// the long one (every other command, and after opening), write time-outs 0.
// A remote line's answers come later by the network's round trip: its
// time-outs get the NetworkAllowance on top, the total limit always (so that
// no read waits without one) and an interval that is set; the sums saturate
// and an interval of 0xFFFFFFFF keeps its meaning.
CommTimeouts ReadTimeouts(const LineSettings& settings, bool shortClass, bool remote);

// `timeouts` with the wait for an answer `ms` longer in all; none where an
// interval of 0xFFFFFFFF gives the totals a meaning a longer wait would change.
std::optional<CommTimeouts> AnswerWaitLengthened(const CommTimeouts& timeouts, uint32_t ms);

// A line setting of the wrong registry type.
class LineSettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace loopmon
