#pragma once
// The operating-system services a session uses, bundled so tests can hand in
// fakes for any of them.

#include <functional>
#include <memory>

#include "platform/serial/bus_driver.h"
#include "platform/serial/serial_port.h"
#include "platform/simulator/simulator_link.h"
#include "platform/store/registry.h"
#include "platform/system/clock.h"
#include "platform/system/named_marker.h"

namespace loopmon {

struct Platform {
  std::shared_ptr<Clock> clock;
  std::shared_ptr<Registry> registry;
  std::shared_ptr<MarkerService> markers;
  std::shared_ptr<SimulatorLink> simulatorLink;
  std::function<std::unique_ptr<SerialPort>()> makeSerialPort;
  std::function<std::unique_ptr<BusDriver>()> makeBusDriver;
  // NT-family system with major version 5 / other than 5.
  bool isNt = true;
  bool isNt5 = false;

  // The real services of this machine.
  static Platform system();
};

}  // namespace loopmon
