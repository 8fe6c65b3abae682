#pragma once
#include <cstdint>
#include <stdexcept>

namespace loopmon {

class Registry;

// The registry line settings under HKLM\Software\TAVIX\VELTA\RS.
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
  // DWORD KernelRS485 = 1: where the port's driver takes it (Linux
  // TIOCSRS485), the kernel turns the line round and the engine acts as with
  // SmartPI.
  bool KernelRS485 = false;
};

inline constexpr const char* LineSettingsKey = "Software\\TAVIX\\VELTA\\RS";

// A line setting of the wrong registry type.
class LineSettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace loopmon
