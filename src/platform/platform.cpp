#include "platform/platform.h"

#include "platform/remote/remote_line.h"
#include "platform/system/os_version.h"

namespace loopmon {

Platform Platform::system() {
  Platform p;
  p.clock = systemClock();
  p.registry = openSystemRegistry();
  p.markers = makeMarkerService();
  p.simulatorLink = makeSimulatorLink();
  p.makeSerialPort = [registry = p.registry] { return makeLinePort(registry); };
  p.makeBusDriver = [] { return loopmon::makeBusDriver(); };
  OsVersion version = queryOsVersion();
  p.isNt5 = version.ntPlatform && version.major == 5;
  p.isNt = version.ntPlatform && !p.isNt5;
  return p;
}

}  // namespace loopmon
