#pragma once
// A sysfs and /dev in a temporary folder, laid out as Linux lays out serial
// devices: /sys/class/tty/<tty>/device links into /sys/devices, USB
// converters below their USB device's folder (idVendor, product, ...), the
// driver as a link into /sys/bus, and /dev/serial/by-id links to the nodes.

#include <filesystem>
#include <string>

#include "platform/serial/port_names.h"
#include "scoped_temp_dir.h"

namespace loopmon::testing {

struct UsbConverter {
  std::string tty;        // "ttyUSB0"
  std::string usbDevice;  // "1-1", the USB device's folder name
  std::string driver;     // "ftdi_sio"
  std::string vendorId, productId, product, manufacturer, serial;
  std::string latencyMs;  // "" for a converter without a latency timer
};

class FakeDeviceTree {
 public:
  DeviceRoots roots() const { return {dir_.file("sys"), dir_.file("dev")}; }
  std::string dev(const std::string& tty) const { return dir_.file("dev/" + tty); }
  std::string byId(const UsbConverter& c) const {
    return dir_.file("dev/serial/by-id/usb-" + c.manufacturer + "_" + c.serial + "-if00-port0");
  }
  // The usb-serial port device, where ftdi_sio keeps latency_timer.
  std::string portFolder(const UsbConverter& c) const {
    return dir_.file("sys/devices/pci0000:00/usb1/" + c.usbDevice + "/" + c.usbDevice + ":1.0/" +
                     c.tty);
  }

  void addUsb(const UsbConverter& c) {
    namespace fs = std::filesystem;
    const std::string usb = dir_.file("sys/devices/pci0000:00/usb1/" + c.usbDevice);
    fs::create_directories(portFolder(c));
    writeFile(usb + "/idVendor", c.vendorId + "\n");
    writeFile(usb + "/idProduct", c.productId + "\n");
    writeFile(usb + "/product", c.product + "\n");
    writeFile(usb + "/manufacturer", c.manufacturer + "\n");
    writeFile(usb + "/serial", c.serial + "\n");
    if (!c.latencyMs.empty()) writeFile(portFolder(c) + "/latency_timer", c.latencyMs + "\n");
    fs::create_directories(dir_.file("sys/bus/usb-serial/drivers/" + c.driver));
    fs::create_symlink(dir_.file("sys/bus/usb-serial/drivers/" + c.driver),
                       portFolder(c) + "/driver");
    addTty(c.tty, portFolder(c), "");
    fs::create_directories(dir_.file("dev/serial/by-id"));
    fs::create_symlink("../../" + c.tty, byId(c));
  }

  // A legacy port: type 0 is a ttyS node without a UART behind it.
  void addLegacy(const std::string& tty, int type) {
    const std::string device = dir_.file("sys/devices/platform/serial8250/" + tty);
    const std::string driver = dir_.file("sys/bus/platform/drivers/serial8250");
    std::filesystem::create_directories(device);
    std::filesystem::create_directories(driver);
    std::filesystem::create_symlink(driver, device + "/driver");
    addTty(tty, device, std::to_string(type));
  }

  // A tty without a device (a console): no port.
  void addVirtual(const std::string& tty) {
    std::filesystem::create_directories(dir_.file("sys/class/tty/" + tty));
  }

 private:
  void addTty(const std::string& tty, const std::string& device, const std::string& type) {
    const std::string cls = dir_.file("sys/class/tty/" + tty);
    std::filesystem::create_directories(cls);
    std::filesystem::create_symlink(device, cls + "/device");
    if (!type.empty()) writeFile(cls + "/type", type + "\n");
    std::filesystem::create_directories(dir_.file("dev"));
    writeFile(dev(tty), "");
  }

  ScopedTempDir dir_;
};

inline const UsbConverter Ftdi{"ttyUSB0",         "1-1",  "ftdi_sio", "0403", "6001",
                               "FT232R USB UART", "FTDI", "A50285BI", "16"};
inline const UsbConverter Cp210x{"ttyUSB1",      "1-2",  "cp210x",
                                 "10c4",         "ea60", "CP2102 USB to UART Bridge Controller",
                                 "Silicon Labs", "0001", ""};

}  // namespace loopmon::testing
