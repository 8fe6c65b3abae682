// The ports present are read from sysfs: every tty with a device behind it,
// with the USB identity of its converter where it has one.

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>

#include "platform/serial/port_names.h"
#include "platform/store/registry.h"
#include "platform/system/files_posix.h"

namespace loopmon {
namespace {

namespace fs = std::filesystem;

// Where Windows lists its serial ports; here the value name is the device path
// and the data its "COMn" name.
constexpr const char* kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

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
    if (std::optional<int> n = comPortNumber(value->text)) result.push_back({device, *n});
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

// One line of a sysfs attribute, without its newline; "" when it is missing.
std::string attribute(const fs::path& file) {
  std::optional<std::string> text = posix::readFile(file.string());
  if (!text) return {};
  while (!text->empty() && (text->back() == '\n' || text->back() == ' ')) text->pop_back();
  return *text;
}

// The same device under two spellings (a by-id link and its target) compare
// equal; a path that cannot be resolved stands for itself.
std::string canonical(const std::string& path) {
  std::error_code error;
  fs::path resolved = fs::canonical(path, error);
  return error ? path : resolved.string();
}

struct Tty {
  std::string name;           // "ttyUSB0"
  PortEntry entry;            // devicePath and identity; no COM name yet
  std::optional<int> legacy;  // n of ttyS<n>
};

// The USB device a tty hangs from: the first folder above it with a vendor id.
void addUsbIdentity(const fs::path& device, const fs::path& sysRoot, PortEntry& entry) {
  fs::path folder = device;
  for (int up = 0; up < 6 && folder.has_relative_path() && folder != sysRoot; ++up) {
    const std::string vendor = attribute(folder / "idVendor");
    if (!vendor.empty()) {
      entry.hardwareId = "usb " + vendor + ":" + attribute(folder / "idProduct");
      entry.description = attribute(folder / "product");
      entry.manufacturer = attribute(folder / "manufacturer");
      entry.serialNumber = attribute(folder / "serial");
      return;
    }
    folder = folder.parent_path();
  }
}

// The driver that owns the hardware. Since Linux 6.5 a UART's tty hangs from
// the serial core's own "port" and "ctrl" devices; the driver that matters
// sits above them.
std::string driverOf(const fs::path& device) {
  fs::path folder = device;
  for (int up = 0; up < 4; ++up) {
    std::error_code error;
    const fs::path driver = fs::canonical(folder / "driver", error);
    if (error) return {};
    if (driver.parent_path().parent_path().filename() != "serial-base") {
      return driver.filename().string();
    }
    folder = folder.parent_path();
  }
  return {};
}

// by-id links by the tty they point at.
std::string stableNameOf(const std::string& ttyName, const DeviceRoots& roots) {
  std::error_code error;
  for (const fs::directory_entry& link :
       fs::directory_iterator(roots.dev + "/serial/by-id", error)) {
    std::error_code linkError;
    const fs::path target = fs::read_symlink(link.path(), linkError);
    if (!linkError && target.filename() == ttyName) return link.path().string();
  }
  return {};
}

// Every tty with a device behind it. Consoles and pseudo-terminals have none;
// the kernel makes a ttyS node for every possible legacy port, and only those
// with a UART behind them (type not 0, "unknown") are ports.
std::vector<Tty> ttysPresent(const DeviceRoots& roots) {
  std::vector<Tty> ttys;
  const fs::path sysRoot = canonical(roots.sys);
  std::error_code error;
  for (const fs::directory_entry& item : fs::directory_iterator(roots.sys + "/class/tty", error)) {
    const std::string name = item.path().filename().string();
    std::error_code deviceError;
    const fs::path device = fs::canonical(item.path() / "device", deviceError);
    if (deviceError) continue;
    Tty tty{name, {}, numberAfter(name, "ttyS")};
    if (tty.legacy && std::atoi(attribute(item.path() / "type").c_str()) == 0) continue;
    tty.entry.devicePath = roots.dev + "/" + name;
    tty.entry.sysfsDevice = device.string();
    tty.entry.driver = driverOf(device);
    addUsbIdentity(device, sysRoot, tty.entry);
    tty.entry.stableName = stableNameOf(name, roots);
    ttys.push_back(std::move(tty));
  }
  // ttyACM0 before ttyUSB0, ttyUSB2 before ttyUSB10: the order the numbers go out in.
  std::sort(ttys.begin(), ttys.end(), [](const Tty& a, const Tty& b) {
    const size_t digitsA = a.name.find_first_of("0123456789");
    const size_t digitsB = b.name.find_first_of("0123456789");
    const std::string stemA = a.name.substr(0, digitsA), stemB = b.name.substr(0, digitsB);
    if (stemA != stemB) return stemA < stemB;
    if (a.name.size() != b.name.size()) return a.name.size() < b.name.size();
    return a.name < b.name;
  });
  return ttys;
}

bool exists(const std::string& path) {
  std::error_code error;
  return fs::exists(path, error);
}

}  // namespace

std::string resolvePortName(const Registry& registry, const std::string& name,
                            const DeviceRoots& roots) {
  std::optional<int> n = comPortNumber(name);
  if (!n) return name;
  for (const Mapping& m : mappings(registry)) {
    if (m.number == *n) return m.devicePath;
  }
  const std::string comName = comPortName(*n);
  for (const PortEntry& entry : listPorts(registry, roots)) {
    if (entry.comName == comName) return entry.devicePath;
  }
  return roots.dev + "/ttyS" + std::to_string(*n - 1);
}

std::vector<PortEntry> listPorts(const Registry& registry, const DeviceRoots& roots) {
  std::vector<Mapping> mapped = mappings(registry);
  std::set<int> taken;
  for (const Mapping& m : mapped) taken.insert(m.number);
  const std::vector<Tty> ttys = ttysPresent(roots);
  std::set<int> uarts;
  for (const Tty& tty : ttys) {
    if (tty.legacy) uarts.insert(*tty.legacy + 1);
  }

  std::vector<PortEntry> ports;
  std::vector<PortEntry> unnumbered;
  for (const Tty& tty : ttys) {
    PortEntry entry = tty.entry;
    const std::string device = canonical(entry.devicePath);
    auto mapping = std::find_if(mapped.begin(), mapped.end(), [&](const Mapping& m) {
      return canonical(m.devicePath) == device;
    });
    if (mapping != mapped.end()) {
      entry.comName = comPortName(mapping->number);
      entry.mapped = true;
      mapping->devicePath.clear();  // listed here, not again below
      ports.push_back(entry);
    } else if (tty.legacy) {
      if (!taken.count(*tty.legacy + 1)) entry.comName = comPortName(*tty.legacy + 1);
      ports.push_back(entry);
    } else {
      unnumbered.push_back(entry);
    }
  }
  // A converter without a mapping takes the first number no UART and no
  // mapping owns, so that "COMn" resolves to it as long as nothing changes.
  int next = 1;
  for (PortEntry& entry : unnumbered) {
    while (next <= MaxComPort && (taken.count(next) || uarts.count(next))) ++next;
    if (next <= MaxComPort) entry.comName = comPortName(next++);
    ports.push_back(entry);
  }
  for (const Mapping& m : mapped) {
    if (!m.devicePath.empty() && (exists(m.devicePath) || isRemoteLineName(m.devicePath))) {
      PortEntry entry;
      entry.comName = comPortName(m.number);
      entry.devicePath = m.devicePath;
      entry.mapped = true;
      ports.push_back(entry);
    }
  }
  std::stable_sort(ports.begin(), ports.end(), [](const PortEntry& a, const PortEntry& b) {
    std::optional<int> na = comPortNumber(a.comName);
    std::optional<int> nb = comPortNumber(b.comName);
    if (na.has_value() != nb.has_value()) return na.has_value();
    if (na && *na != *nb) return *na < *nb;
    return false;
  });
  return ports;
}

bool mapPort(Registry& registry, const std::string& comName, const std::string& devicePath) {
  std::optional<int> n = comPortNumber(comName);
  const Registry::Batch batch(registry);
  if (!n || devicePath.empty() || !registry.createKey(kSerialCommKey)) return false;
  // One device per name: an earlier mapping of the same name gives way.
  for (const Mapping& m : mappings(registry)) {
    if (m.number == *n && m.devicePath != devicePath) registry.remove(kSerialCommKey, m.devicePath);
  }
  return registry.write(kSerialCommKey, devicePath, RegValue::ofString(comPortName(*n)));
}

}  // namespace loopmon
