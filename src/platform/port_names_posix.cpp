#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "platform/port_names.h"
#include "platform/posix_files.h"
#include "platform/registry.h"
#include "platform/remote_line.h"

namespace loopmon {
namespace {

// Where Windows lists its serial ports; here the value name is the device path
// and the data its "COMn" name.
constexpr const char* kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// n of "COMn" (any letter case, no leading zero); none for any other name.
std::optional<int> comNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 7) return std::nullopt;
  for (size_t i = 0; i < 3; ++i) {
    if ((name[i] & ~0x20) != "COM"[i]) return std::nullopt;
  }
  if (name[3] == '0') return std::nullopt;
  int n = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return std::nullopt;
    n = n * 10 + (name[i] - '0');
  }
  return n;
}

struct Mapping {
  std::string devicePath;
  int number;
};

std::vector<Mapping> mappings(const Registry& registry) {
  const Registry::Batch batch(registry);
  std::vector<Mapping> result;
  for (const std::string& device : registry.valueNames(kSerialCommKey)) {
    std::optional<RegValue> value = registry.read(kSerialCommKey, device);
    if (!value || value->type != RegType::String) continue;
    if (std::optional<int> n = comNumber(value->text)) result.push_back({device, *n});
  }
  return result;
}

std::optional<int> numberAfter(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
    return std::nullopt;
  }
  int n = 0;
  for (size_t i = prefix.size(); i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9' || n > 100000) return std::nullopt;
    n = n * 10 + (name[i] - '0');
  }
  return n;
}

// The kernel makes ttyS nodes for every possible legacy port; only those with a
// UART behind them are ports (type 0 is "unknown", no UART).
bool hasUart(const std::string& ttyName) {
  std::optional<std::string> type = posix::readFile("/sys/class/tty/" + ttyName + "/type");
  return !type || std::atoi(type->c_str()) != 0;
}

std::vector<std::string> serialDevices() {
  std::vector<std::string> devices;
  DIR* dir = ::opendir("/dev");
  if (!dir) return devices;
  while (const dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    bool port = (numberAfter(name, "ttyS") && hasUart(name)) || numberAfter(name, "ttyUSB") ||
                numberAfter(name, "ttyACM");
    if (port) devices.push_back("/dev/" + name);
  }
  ::closedir(dir);
  return devices;
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

std::string comPortName(int number) {
  return "COM" + std::to_string(number);
}

std::string resolvePortName(const Registry& registry, const std::string& name) {
  std::optional<int> n = comNumber(name);
  if (!n) return name;
  for (const Mapping& m : mappings(registry)) {
    if (m.number == *n) return m.devicePath;
  }
  return "/dev/ttyS" + std::to_string(*n - 1);
}

std::vector<PortEntry> listPorts(const Registry& registry) {
  std::vector<Mapping> mapped = mappings(registry);
  auto mappingOf = [&](const std::string& device) {
    return std::find_if(mapped.begin(), mapped.end(),
                        [&](const Mapping& m) { return m.devicePath == device; });
  };
  auto numberTaken = [&](int n) {
    return std::any_of(mapped.begin(), mapped.end(),
                       [&](const Mapping& m) { return m.number == n; });
  };

  std::vector<PortEntry> ports;
  for (const std::string& device : serialDevices()) {
    if (mappingOf(device) != mapped.end()) continue;
    std::optional<int> legacy = numberAfter(device, "/dev/ttyS");
    bool named = legacy && !numberTaken(*legacy + 1);
    ports.push_back({named ? comPortName(*legacy + 1) : std::string(), device, false});
  }
  for (const Mapping& m : mapped) {
    if (exists(m.devicePath) || isRemoteLineName(m.devicePath)) {
      ports.push_back({comPortName(m.number), m.devicePath, true});
    }
  }
  std::sort(ports.begin(), ports.end(), [](const PortEntry& a, const PortEntry& b) {
    std::optional<int> na = comNumber(a.comName);
    std::optional<int> nb = comNumber(b.comName);
    if (na.has_value() != nb.has_value()) return na.has_value();
    if (na && *na != *nb) return *na < *nb;
    return a.devicePath < b.devicePath;
  });
  return ports;
}

bool mapPort(Registry& registry, const std::string& comName, const std::string& devicePath) {
  std::optional<int> n = comNumber(comName);
  const Registry::Batch batch(registry);
  if (!n || devicePath.empty() || !registry.createKey(kSerialCommKey)) return false;
  // One device per name: an earlier mapping of the same name gives way.
  for (const Mapping& m : mappings(registry)) {
    if (m.number == *n && m.devicePath != devicePath) registry.remove(kSerialCommKey, m.devicePath);
  }
  return registry.write(kSerialCommKey, devicePath, RegValue::ofString(comPortName(*n)));
}

}  // namespace loopmon
