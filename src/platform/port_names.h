#pragma once
// Serial port names. The bus code names ports the Windows way ("COM3"); on
// POSIX a name is resolved to a device path through the registry store's
// HARDWARE\DEVICEMAP\SERIALCOMM key, falling back to /dev/ttyS{n-1}. A COMn
// name can also lead to a remote line ("rfc2217://HOST:PORT").

#include <string>
#include <vector>

namespace loopmon {

class Registry;

struct PortEntry {
  std::string comName;     // "COM1"
  std::string devicePath;  // "/dev/ttyUSB0", or the name itself on Windows
  bool mapped = false;     // the COM name comes from a mapping recorded with mapPort()
};

// "COM" followed by the number in decimal.
std::string comPortName(int number);

// The device to open for a port name: a "COMn" name mapped as described above,
// anything else taken as a device path unchanged.
std::string resolvePortName(const Registry& registry, const std::string& name);

// The serial devices present, with their COMn names: first those with a name,
// by number, then devices reachable by path only ("" as comName).
std::vector<PortEntry> listPorts(const Registry& registry);

// Records "COMn" -> device in the registry store. Where the OS owns the names
// of its devices (Windows), only a remote line can be given a COMn name.
bool mapPort(Registry& registry, const std::string& comName, const std::string& devicePath);

}  // namespace loopmon
