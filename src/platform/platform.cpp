#include "platform/platform.h"

#include "platform/line_port.h"
#include "platform/store/program_folder.h"
#include "platform/system/os_version.h"

namespace loopmon {

Platform Platform::system() {
  Platform p;
  p.clock = systemClock();
  p.registry = openSystemRegistry();
  p.markers = makeMarkerService(runtimeFolder);
  p.simulatorLink = makeSimulatorLink();
  p.makeSerialPort = [registry = p.registry, clock = p.clock] {
    return makeLinePort(registry, clock);
  };
  p.makeBusDriver = [] { return loopmon::makeBusDriver(); };
  OsVersion version = queryOsVersion();
  p.isNt5 = version.ntPlatform && version.major == 5;
  p.isNt = version.ntPlatform && !p.isNt5;
  return p;
}

}  // namespace loopmon
