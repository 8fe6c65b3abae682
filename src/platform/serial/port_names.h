#pragma once
// Serial port names. The bus code names ports the Windows way ("COM3"); on
// POSIX a name is resolved to a device path through the registry store's
// HARDWARE\DEVICEMAP\SERIALCOMM key, then through the numbering of the ports
// present (see listPorts), falling back to /dev/ttyS{n-1}. A COMn name can
// also lead to a remote line ("rfc2217://HOST:PORT").

#include <optional>
#include <string>
#include <vector>

namespace loopmon {

class Registry;

// The highest n of a "COMn" name, as Windows numbers its ports.
inline constexpr int MaxComPort = 256;

struct PortEntry {
  std::string comName = {};     // "COM1"; "" for a device reachable by path only
  std::string devicePath = {};  // "/dev/ttyUSB0", or the name itself on Windows
  bool mapped = false;          // the COM name comes from a recorded mapping
  // What the device is, as far as the system tells ("" where it does not).
  std::string description = {};   // "FT232R USB UART", "USB Serial Port (COM7)"
  std::string manufacturer = {};  // "FTDI"
  std::string serialNumber = {};  // "A50285BI"
  std::string hardwareId = {};    // "usb 0403:6001", "USB\VID_0403&PID_6001&REV_0600"
  std::string driver = {};        // "ftdi_sio", "cp210x", "FTDIBUS"
  std::string stableName = {};    // a name that survives replugging: /dev/serial/by-id/...
  std::string sysfsDevice = {};   // Linux: the device's sysfs folder (its latency_timer is there)
};

// Where the POSIX side looks for devices; tests point it at a fake tree.
// Windows asks the system and ignores it.
struct DeviceRoots {
  std::string sys = "/sys";
  std::string dev = "/dev";
};

// The prefixes of a remote line's name: telnet with the COM port option, or
// the line's bytes as they are.
inline constexpr const char* Rfc2217Prefix = "rfc2217://";
inline constexpr const char* RawTcpPrefix = "tcp://";

// A name with the "rfc2217://" or "tcp://" prefix (any letter case).
bool isRemoteLineName(const std::string& name);

// n of "COMn" for n in 1..MaxComPort (any letter case, no leading zero);
// none for any other name.
std::optional<int> comPortNumber(const std::string& name);

// "COM" followed by the number in decimal.
std::string comPortName(int number);

// What the entry is, in one line: the description, maker, ids, driver and
// serial number that are known ("" when nothing is).
std::string describePort(const PortEntry& entry);

// The device to open for a port name: a "COMn" name mapped as described above,
// anything else taken as a device path unchanged.
std::string resolvePortName(const Registry& registry, const std::string& name,
                            const DeviceRoots& roots = {});

// The serial ports present, each with what it is: first those with a COM name,
// by number, then devices reachable by path only ("" as comName). On Linux a
// legacy UART ttyS{n-1} is COMn; a mapped device takes its mapped name; any
// other device (a USB converter) takes the lowest free number whose legacy
// UART does not exist, so a converter plugged into a laptop is COM1.
std::vector<PortEntry> listPorts(const Registry& registry, const DeviceRoots& roots = {});

// Records "COMn" -> device in the registry store. Where the OS owns the names
// of its devices (Windows), only a remote line can be given a COMn name.
bool mapPort(Registry& registry, const std::string& comName, const std::string& devicePath);

}  // namespace loopmon
