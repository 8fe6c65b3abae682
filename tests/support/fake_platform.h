#pragma once
// Every platform service as a fake, wired into one Platform. The serial port
// and the bus driver made by the platform report to `line` and `driver`; the
// driver device is absent unless a test says otherwise.

#include <memory>

#include "fake_bus_driver.h"
#include "fake_clock.h"
#include "fake_markers.h"
#include "fake_serial_port.h"
#include "memory_registry.h"
#include "platform/platform.h"

namespace loopmon::testing {

struct FakePlatform {
  std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
  std::shared_ptr<MemoryRegistry> registry = std::make_shared<MemoryRegistry>();
  std::shared_ptr<FakeMarkers> markers = std::make_shared<FakeMarkers>();
  std::shared_ptr<FakeSerialLine> line = std::make_shared<FakeSerialLine>(clock);
  std::shared_ptr<FakeDriverDevice> driver = std::make_shared<FakeDriverDevice>();
  std::shared_ptr<SimulatorLink> simulatorLink;  // none unless a test sets one
  bool isNt = true;
  bool isNt5 = false;

  Platform platform() const {
    return {clock,
            registry,
            markers,
            simulatorLink,
            [line = line] { return line->makePort(); },
            [driver = driver] { return driver->makeDriver(); },
            isNt,
            isNt5};
  }
};

}  // namespace loopmon::testing
