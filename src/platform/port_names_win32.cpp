// On Windows the system owns the port names: a "COMn" name opens as it is, and
// the ports present are the ones the system lists in SERIALCOMM (value name
// the kernel's device, data the "COMn" name). A COMn name can also be given to
// a remote line; those names are kept in a key of our own, since SERIALCOMM is
// the drivers' and is rebuilt at every start.

#include <algorithm>
#include <cstdlib>

#include "platform/port_names.h"
#include "platform/registry.h"
#include "platform/remote_line.h"

namespace loopmon {
namespace {

constexpr const char* kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
// Value name "COMn", data the remote line's name.
constexpr const char* kRemoteLinesKey = "Software\\TAVIX\\VELTA\\RemoteLines";

// n of "COMn"; 0 for any other name, which sorts it last.
int comNumber(const std::string& name) {
  if (name.size() < 4 || (name.compare(0, 3, "COM") != 0 && name.compare(0, 3, "com") != 0)) {
    return 0;
  }
  if (!std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return 0;
  }
  return std::atoi(name.c_str() + 3);
}

}  // namespace

std::string comPortName(int number) {
  return "COM" + std::to_string(number);
}

std::string resolvePortName(const Registry& registry, const std::string& name) {
  if (comNumber(name) == 0) return name;
  const std::string comName = comPortName(comNumber(name));
  std::optional<RegValue> line = registry.read(kRemoteLinesKey, comName);
  if (line && line->type == RegType::String && isRemoteLineName(line->text)) return line->text;
  return name;
}

std::vector<PortEntry> listPorts(const Registry& registry) {
  std::vector<PortEntry> ports;
  for (const std::string& device : registry.valueNames(kSerialCommKey)) {
    std::optional<RegValue> value = registry.read(kSerialCommKey, device);
    if (!value || value->type != RegType::String || value->text.empty()) continue;
    ports.push_back({value->text, value->text, false});
  }
  for (const std::string& comName : registry.valueNames(kRemoteLinesKey)) {
    const std::string line = resolvePortName(registry, comName);
    if (line == comName) continue;
    // The remote line stands in for a port of the system with the same name.
    std::erase_if(ports, [&](const PortEntry& p) { return p.comName == comName; });
    ports.push_back({comName, line, true});
  }
  std::sort(ports.begin(), ports.end(), [](const PortEntry& a, const PortEntry& b) {
    const int na = comNumber(a.comName);
    const int nb = comNumber(b.comName);
    if ((na == 0) != (nb == 0)) return na != 0;
    if (na != nb) return na < nb;
    return a.comName < b.comName;
  });
  return ports;
}

bool mapPort(Registry& registry, const std::string& comName, const std::string& devicePath) {
  const int n = comNumber(comName);
  if (n == 0 || !isRemoteLineName(devicePath) || !registry.createKey(kRemoteLinesKey)) return false;
  return registry.write(kRemoteLinesKey, comPortName(n), RegValue::ofString(devicePath));
}

}  // namespace loopmon
