#include "platform/serial/bus_driver.h"

namespace loopmon {
namespace {

// No bus driver exists on POSIX; the session then takes the serial route.
class AbsentBusDriver final : public BusDriver {
 public:
  bool open() override { return false; }
  void close() override {}
  bool isOpen() const override { return false; }
  uint32_t control(uint32_t, const void*, uint32_t, void*, uint32_t) override { return 0; }
};

}  // namespace

std::unique_ptr<BusDriver> makeBusDriver() {
  return std::make_unique<AbsentBusDriver>();
}

}  // namespace loopmon
