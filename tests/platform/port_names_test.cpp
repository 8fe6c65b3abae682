#include "platform/port_names.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/registry.h"
#include "scoped_temp_dir.h"

namespace loopmon {
namespace {

class PortNames : public ::testing::Test {
 protected:
  testing::ScopedTempDir dir_;
  std::unique_ptr<Registry> reg_ = openRegistryFile(dir_.file("system.reg"));
};

TEST_F(PortNames, ComNamesResolveThroughMappingsOrToLegacyDevices) {
  EXPECT_EQ(resolvePortName(*reg_, "COM1"), "/dev/ttyS0");
  EXPECT_EQ(resolvePortName(*reg_, "com12"), "/dev/ttyS11");
  for (const char* unchanged : {"/dev/ttyUSB0", "COM03", "COM0", "COM", "COM3x", "LPT1"}) {
    EXPECT_EQ(resolvePortName(*reg_, unchanged), unchanged);
  }
  ASSERT_TRUE(mapPort(*reg_, "com3", "/dev/ttyUSB0"));
  ASSERT_TRUE(mapPort(*reg_, "COM3", "/dev/ttyACM1"));
  EXPECT_EQ(resolvePortName(*reg_, "COM3"), "/dev/ttyACM1") << "mapping the name again moves it";
  EXPECT_EQ(reg_->valueNames("HARDWARE\\DEVICEMAP\\SERIALCOMM"),
            std::vector<std::string>{"/dev/ttyACM1"});
  EXPECT_FALSE(mapPort(*reg_, "LPT1", "/dev/ttyUSB0"));
  EXPECT_FALSE(mapPort(*reg_, "COM4", ""));
}

TEST_F(PortNames, ListingShowsMappedDevicesThatExistAndNamedPortsFirst) {
  const std::string present = dir_.file("virtual-port");
  std::ofstream(present).put('x');
  ASSERT_TRUE(mapPort(*reg_, "COM9", present));
  ASSERT_TRUE(mapPort(*reg_, "COM8", dir_.file("unplugged")));
  ASSERT_TRUE(mapPort(*reg_, "COM1", "/dev/ttyUSB7"));

  bool foundPresent = false, unnamedSeen = false;
  for (const PortEntry& p : listPorts(*reg_)) {
    foundPresent |= p.devicePath == present && p.comName == "COM9" && p.mapped;
    EXPECT_NE(p.comName, "COM8") << "a mapping to a missing device is no port";
    // COM1 now belongs to the mapping, so the first legacy port loses the name.
    EXPECT_TRUE(p.devicePath != "/dev/ttyS0" || p.comName.empty());
    unnamedSeen |= p.comName.empty();
    EXPECT_FALSE(unnamedSeen && !p.comName.empty()) << "named ports come first";
  }
  EXPECT_TRUE(foundPresent);
}

}  // namespace
}  // namespace loopmon
