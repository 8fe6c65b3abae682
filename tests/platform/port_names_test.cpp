#include <gtest/gtest.h>

#include <fstream>

#include "platform/port_names.h"
#include "platform/registry.h"
#include "scoped_temp_dir.h"

namespace loopmon {
namespace {

using testing::ScopedTempDir;

class PortNames : public ::testing::Test {
 protected:
  ScopedTempDir dir_;
  std::unique_ptr<Registry> reg_ = openRegistryFile(dir_.file("system.reg"));
};

TEST_F(PortNames, ComNamesResolveThroughMappingsOrToLegacyDevices) {
  EXPECT_EQ(comPortName(3), "COM3");
  EXPECT_EQ(resolvePortName(*reg_, "COM1"), "/dev/ttyS0");
  EXPECT_EQ(resolvePortName(*reg_, "com12"), "/dev/ttyS11");
  for (const char* unchanged : {"/dev/ttyUSB0", "COM03", "COM0", "COM", "COM3x", "LPT1"}) {
    EXPECT_EQ(resolvePortName(*reg_, unchanged), unchanged);
  }

  ASSERT_TRUE(mapPort(*reg_, "com3", "/dev/ttyUSB0"));
  EXPECT_EQ(resolvePortName(*reg_, "COM3"), "/dev/ttyUSB0");
  EXPECT_EQ(reg_->read("HARDWARE\\DEVICEMAP\\SERIALCOMM", "/dev/ttyUSB0"),
            RegValue::ofString("COM3"));

  // Mapping the name again moves it; the old device is no longer COM3.
  ASSERT_TRUE(mapPort(*reg_, "COM3", "/dev/ttyACM1"));
  EXPECT_EQ(resolvePortName(*reg_, "COM3"), "/dev/ttyACM1");
  EXPECT_EQ(reg_->valueNames("HARDWARE\\DEVICEMAP\\SERIALCOMM"),
            std::vector<std::string>{"/dev/ttyACM1"});

  EXPECT_FALSE(mapPort(*reg_, "LPT1", "/dev/ttyUSB0"));
  EXPECT_FALSE(mapPort(*reg_, "COM4", ""));
}

TEST_F(PortNames, ListingShowsMappedDevicesThatExistAndNamedPortsFirst) {
  std::string present = dir_.file("virtual-port");
  std::ofstream(present).put('x');
  ASSERT_TRUE(mapPort(*reg_, "COM9", present));
  ASSERT_TRUE(mapPort(*reg_, "COM8", dir_.file("unplugged")));
  ASSERT_TRUE(mapPort(*reg_, "COM1", "/dev/ttyUSB7"));

  std::vector<PortEntry> ports = listPorts(*reg_);
  auto found = std::find_if(ports.begin(), ports.end(),
                            [&](const PortEntry& p) { return p.devicePath == present; });
  ASSERT_NE(found, ports.end());
  EXPECT_EQ(found->comName, "COM9");
  EXPECT_TRUE(found->mapped);
  for (const PortEntry& p : ports) {
    EXPECT_NE(p.comName, "COM8") << "a mapping to a missing device is no port";
    // COM1 now belongs to the mapping, so the first legacy port loses the name.
    if (p.devicePath == "/dev/ttyS0") {
      EXPECT_EQ(p.comName, "");
    }
  }
  bool unnamedSeen = false;
  for (const PortEntry& p : ports) {
    if (p.comName.empty()) unnamedSeen = true;
    EXPECT_FALSE(unnamedSeen && !p.comName.empty()) << "named ports come first";
  }
}

}  // namespace
}  // namespace loopmon
