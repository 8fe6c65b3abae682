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
  FakePlatform();

  std::shared_ptr<FakeClock> clock;
  std::shared_ptr<MemoryRegistry> registry;
  std::shared_ptr<FakeMarkers> markers;
  std::shared_ptr<FakeSerialLine> line;
  std::shared_ptr<FakeDriverDevice> driver;
  std::shared_ptr<SimulatorLink> simulatorLink;  // none unless a test sets one
  bool isNt = true;
  bool isNt5 = false;

  Platform platform() const;
};

}  // namespace loopmon::testing
