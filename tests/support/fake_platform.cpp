#include "fake_platform.h"

namespace loopmon::testing {

FakePlatform::FakePlatform()
    : clock(std::make_shared<FakeClock>()),
      registry(std::make_shared<MemoryRegistry>()),
      markers(std::make_shared<FakeMarkers>()),
      line(std::make_shared<FakeSerialLine>(clock)),
      driver(std::make_shared<FakeDriverDevice>(clock)) {
  driver->setPresent(false);
}

Platform FakePlatform::platform() const {
  Platform p;
  p.clock = clock;
  p.registry = registry;
  p.markers = markers;
  p.simulatorLink = simulatorLink;
  p.makeSerialPort = [line = line] { return line->makePort(); };
  p.makeBusDriver = [driver = driver] { return driver->makeDriver(); };
  p.isNt = isNt;
  p.isNt5 = isNt5;
  return p;
}

}  // namespace loopmon::testing
