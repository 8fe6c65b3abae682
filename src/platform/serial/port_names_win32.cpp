// On Windows the system owns the port names: a "COMn" name opens as it is, and
// the ports present are the ones the system lists in SERIALCOMM (value name
// the kernel's device, data the "COMn" name). What each port is comes from the
// device information of the Ports class: friendly name, maker, hardware id
// and driver service. A COMn name can also be given to a remote line; those
// names are kept in a key of our own, since SERIALCOMM is the drivers' and is
// rebuilt at every start.

#include <algorithm>

#include "platform/serial/port_names.h"
#include "platform/store/registry.h"
#include "platform/system/windows_api_win32.h"

// After windows.h (windows_api_win32.h), which they need.
#include <devguid.h>
#include <setupapi.h>

namespace loopmon {
namespace {

constexpr const char* kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
// Value name "COMn", data the remote line's name.
constexpr const char* kRemoteLinesKey = "Software\\TAVIX\\VELTA\\RemoteLines";

std::string deviceProperty(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
  wchar_t text[512] = {};
  DWORD type = 0;
  if (!SetupDiGetDeviceRegistryPropertyW(devices, &device, property, &type,
                                         reinterpret_cast<BYTE*>(text),
                                         sizeof text - sizeof(wchar_t), nullptr)) {
    return {};
  }
  // A hardware id list holds several strings; the first is the most specific.
  return win32::narrow(std::wstring(text));
}

std::string portNameOf(HDEVINFO devices, SP_DEVINFO_DATA& device) {
  HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key == INVALID_HANDLE_VALUE) return {};
  wchar_t name[64] = {};
  DWORD size = sizeof name - sizeof(wchar_t);
  DWORD type = 0;
  const bool read = RegQueryValueExW(key, L"PortName", nullptr, &type,
                                     reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS &&
                    type == REG_SZ;
  RegCloseKey(key);
  return read ? win32::narrow(std::wstring(name)) : std::string();
}

// The present devices of the Ports class, as entries named by their PortName.
std::vector<PortEntry> devicesPresent() {
  std::vector<PortEntry> entries;
  HDEVINFO devices = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (devices == INVALID_HANDLE_VALUE) return entries;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
    PortEntry entry;
    entry.comName = portNameOf(devices, device);
    if (!comPortNumber(entry.comName)) continue;  // printer ports share the class
    entry.devicePath = entry.comName;
    entry.description = deviceProperty(devices, device, SPDRP_FRIENDLYNAME);
    entry.manufacturer = deviceProperty(devices, device, SPDRP_MFG);
    entry.hardwareId = deviceProperty(devices, device, SPDRP_HARDWAREID);
    entry.driver = deviceProperty(devices, device, SPDRP_SERVICE);
    entries.push_back(entry);
  }
  SetupDiDestroyDeviceInfoList(devices);
  return entries;
}

}  // namespace

std::string resolvePortName(const Registry& registry, const std::string& name, const DeviceRoots&) {
  const std::optional<int> number = comPortNumber(name);
  if (!number) return name;
  std::optional<RegValue> line = registry.read(kRemoteLinesKey, comPortName(*number));
  if (line && line->type == RegType::String && isRemoteLineName(line->text)) return line->text;
  return name;
}

std::vector<PortEntry> listPorts(const Registry& registry, const DeviceRoots&) {
  std::vector<PortEntry> ports = devicesPresent();
  // Ports without device information (virtual ones, some old drivers) still
  // have their SERIALCOMM entry.
  for (const std::string& device : registry.valueNames(kSerialCommKey)) {
    std::optional<RegValue> value = registry.read(kSerialCommKey, device);
    if (!value || value->type != RegType::String || value->text.empty()) continue;
    const bool known = std::any_of(ports.begin(), ports.end(),
                                   [&](const PortEntry& p) { return p.comName == value->text; });
    if (known) continue;
    PortEntry entry;
    entry.comName = value->text;
    entry.devicePath = value->text;
    ports.push_back(entry);
  }
  for (const std::string& comName : registry.valueNames(kRemoteLinesKey)) {
    const std::string line = resolvePortName(registry, comName);
    if (line == comName) continue;
    // The remote line stands in for a port of the system with the same name.
    std::erase_if(ports, [&](const PortEntry& p) { return p.comName == comName; });
    PortEntry entry;
    entry.comName = comName;
    entry.devicePath = line;
    entry.mapped = true;
    ports.push_back(entry);
  }
  std::sort(ports.begin(), ports.end(), [](const PortEntry& a, const PortEntry& b) {
    const int na = comPortNumber(a.comName).value_or(0);
    const int nb = comPortNumber(b.comName).value_or(0);
    if ((na == 0) != (nb == 0)) return na != 0;
    if (na != nb) return na < nb;
    return a.comName < b.comName;
  });
  return ports;
}

bool mapPort(Registry& registry, const std::string& comName, const std::string& devicePath) {
  const std::optional<int> number = comPortNumber(comName);
  if (!number || !isRemoteLineName(devicePath) || !registry.createKey(kRemoteLinesKey)) {
    return false;
  }
  return registry.write(kRemoteLinesKey, comPortName(*number), RegValue::ofString(devicePath));
}

}  // namespace loopmon
