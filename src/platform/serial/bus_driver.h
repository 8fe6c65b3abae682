#pragma once
// The RS-485 bus driver device "\\.\VELTA485", reached with device I/O control
// codes 1..7. No such driver exists on POSIX: opening always fails there, and
// tests drive the driver route through a fake.

#include <cstdint>
#include <memory>

namespace loopmon {

namespace DriverCode {
inline constexpr uint32_t Bind = 1;
inline constexpr uint32_t Release = 2;
inline constexpr uint32_t SendReceive = 3;
inline constexpr uint32_t Fetch = 4;
inline constexpr uint32_t SendOnly = 5;
inline constexpr uint32_t Prepare = 6;
inline constexpr uint32_t EndReceive = 7;
}  // namespace DriverCode

class BusDriver {
 public:
  virtual ~BusDriver() = default;
  // Opens the device; false when there is no driver.
  virtual bool open() = 0;
  virtual void close() = 0;
  virtual bool isOpen() const = 0;
  // One device I/O control call; returns the number of output bytes the driver
  // reports (the only result the bus code reads).
  virtual uint32_t control(uint32_t code, const void* input, uint32_t inputBytes, void* output,
                           uint32_t outputBytes) = 0;
};

std::unique_ptr<BusDriver> makeBusDriver();

}  // namespace loopmon
