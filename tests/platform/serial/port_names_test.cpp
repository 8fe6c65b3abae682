#include "platform/serial/port_names.h"

#include <gtest/gtest.h>

#include <fstream>

#include "fake_device_tree.h"
#include "platform/serial/usb_latency.h"
#include "platform/store/registry.h"
#include "scoped_temp_dir.h"

namespace loopmon {
namespace {

using testing::Cp210x;
using testing::Ftdi;

class PortNames : public ::testing::Test {
 protected:
  // "COM1 ttyUSB0 FT232R USB UART (...)": the name, the node and what it is.
  std::vector<std::string> listing() {
    std::vector<std::string> lines;
    for (const PortEntry& p : listPorts(*reg_, tree_.roots())) {
      const std::string node = p.devicePath.substr(p.devicePath.rfind('/') + 1);
      lines.push_back(p.comName + " " + node + (p.mapped ? " mapped" : "") + " " + describePort(p));
    }
    return lines;
  }

  testing::ScopedTempDir dir_;
  std::unique_ptr<Registry> reg_ = openRegistryFile(dir_.file("system.reg"));
  testing::FakeDeviceTree tree_;
};

TEST_F(PortNames, ComNamesResolveThroughMappingsOrToLegacyDevices) {
  const std::string dev = tree_.roots().dev;
  EXPECT_EQ(resolvePortName(*reg_, "COM1", tree_.roots()), dev + "/ttyS0");
  EXPECT_EQ(resolvePortName(*reg_, "com12", tree_.roots()), dev + "/ttyS11");
  EXPECT_EQ(resolvePortName(*reg_, "COM256", tree_.roots()), dev + "/ttyS255");
  for (const char* unchanged : {"/dev/ttyUSB0", "COM03", "COM0", "COM257", "COM", "COM3x"}) {
    EXPECT_EQ(resolvePortName(*reg_, unchanged), unchanged);
  }
  ASSERT_TRUE(mapPort(*reg_, "com3", "/dev/ttyUSB0"));
  ASSERT_TRUE(mapPort(*reg_, "COM3", "/dev/ttyACM1"));
  EXPECT_EQ(resolvePortName(*reg_, "COM3"), "/dev/ttyACM1") << "mapping the name again moves it";
  EXPECT_EQ(reg_->valueNames("HARDWARE\\DEVICEMAP\\SERIALCOMM"),
            std::vector<std::string>{"/dev/ttyACM1"});
  for (const char* refused : {"LPT1", "COM257", "COM0"}) {
    EXPECT_FALSE(mapPort(*reg_, refused, "/dev/ttyUSB0")) << refused;
  }
  EXPECT_FALSE(mapPort(*reg_, "COM4", ""));
}

// An FTDI and a CP210x converter, a legacy UART that is absent (ttyS0), one
// that is present (ttyS1) and a console.
TEST_F(PortNames, ListingNamesEveryDeviceAndWhatItIs) {
  tree_.addUsb(Ftdi);
  tree_.addUsb(Cp210x);
  tree_.addLegacy("ttyS0", 0);
  tree_.addLegacy("ttyS1", 4);
  tree_.addVirtual("tty0");
  const std::string ftdi = "FT232R USB UART (FTDI, usb 0403:6001, ftdi_sio, serial A50285BI)";
  const std::string cp210x =
      "CP2102 USB to UART Bridge Controller (Silicon Labs, usb 10c4:ea60, cp210x, serial 0001)";
  const std::string mappedPty = dir_.file("pty");
  std::ofstream(mappedPty).put('x');

  const struct {
    const char* what;
    std::vector<std::pair<std::string, std::string>> mappings;
    std::vector<std::string> expected;
  } cases[] = {
      {"converters take the numbers whose UART is absent",
       {},
       {"COM1 ttyUSB0 " + ftdi, "COM2 ttyS1 serial8250", "COM3 ttyUSB1 " + cp210x}},
      {"a mapping by the stable name keeps its number; the others move up",
       {{"COM7", tree_.byId(Ftdi)}},
       {"COM1 ttyUSB1 " + cp210x, "COM2 ttyS1 serial8250", "COM7 ttyUSB0 mapped " + ftdi}},
      {"a mapping takes a UART's name; mapped devices that exist are listed",
       {{"COM2", tree_.dev("ttyUSB1")}, {"COM5", mappedPty}, {"COM6", dir_.file("unplugged")}},
       {"COM1 ttyUSB0 " + ftdi, "COM2 ttyUSB1 mapped " + cp210x, "COM5 pty mapped ",
        " ttyS1 serial8250"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    reg_ = openRegistryFile(dir_.file(std::string("system-") + c.what));
    for (const auto& [name, device] : c.mappings) ASSERT_TRUE(mapPort(*reg_, name, device));
    EXPECT_EQ(listing(), c.expected);
    // What is listed as COMn opens as COMn (a by-id mapping names the same node).
    for (const PortEntry& p : listPorts(*reg_, tree_.roots())) {
      if (p.comName.empty()) continue;
      EXPECT_EQ(std::filesystem::weakly_canonical(resolvePortName(*reg_, p.comName, tree_.roots())),
                std::filesystem::weakly_canonical(p.devicePath))
          << p.comName;
    }
  }
  const std::vector<PortEntry> ports =
      listPorts(*openRegistryFile(dir_.file("empty.reg")), tree_.roots());
  EXPECT_EQ(ports.front().stableName, tree_.byId(Ftdi));
  EXPECT_EQ(ports.front().sysfsDevice, tree_.portFolder(Ftdi));
}

TEST_F(PortNames, AnFtdiLatencyTimerReadsAndSetsThroughSysfs) {
  tree_.addUsb(Ftdi);
  tree_.addUsb(Cp210x);
  const std::vector<PortEntry> ports = listPorts(*reg_, tree_.roots());
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(readLatencyTimer(ports[0]), 16);
  std::string why;
  EXPECT_TRUE(setLatencyTimer(ports[0], 1, why)) << why;
  EXPECT_EQ(testing::readFile(tree_.portFolder(Ftdi) + "/latency_timer"), "1\n");
  EXPECT_EQ(readLatencyTimer(ports[1]), std::nullopt) << "a CP210x has no such timer";
  EXPECT_FALSE(setLatencyTimer(ports[1], 1, why));
}

}  // namespace
}  // namespace loopmon
