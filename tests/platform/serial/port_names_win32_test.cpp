// The ports as the Windows registry lists them, and a remote line given a
// COM name, against the system's own registry under Wine.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/serial/port_names.h"
#include "platform/store/registry.h"

using namespace loopmon;

namespace {

TEST(Ports, ListedByNumberAsTheSystemKeepsThem) {
  auto registry = openSystemRegistry();
  const std::string serialComm = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
  ASSERT_TRUE(registry->createKey(serialComm));
  ASSERT_TRUE(registry->write(serialComm, "\\Device\\LoopmonTest12", RegValue::ofString("COM12")));
  ASSERT_TRUE(registry->write(serialComm, "\\Device\\LoopmonTest3", RegValue::ofString("COM3")));
  std::vector<std::string> names;
  for (const PortEntry& port : listPorts(*registry)) names.push_back(port.devicePath);
  registry->remove(serialComm, "\\Device\\LoopmonTest12");
  registry->remove(serialComm, "\\Device\\LoopmonTest3");
  const auto com3 = std::find(names.begin(), names.end(), "COM3");
  ASSERT_NE(com3, names.end());
  EXPECT_LT(com3, std::find(names.begin(), names.end(), "COM12")) << "by number, not by text";
}

TEST(Ports, ARemoteLineTakesACommunicationsPortName) {
  auto registry = openSystemRegistry();
  const std::string line = "rfc2217://plantroom:2001";
  EXPECT_FALSE(mapPort(*registry, "COM4", "\\Device\\Serial0")) << "the system's to name";
  ASSERT_TRUE(mapPort(*registry, "com4", line));
  const std::string resolved = resolvePortName(*registry, "COM4");
  const std::vector<PortEntry> ports = listPorts(*registry);
  // Through the store, so that it is gone from the view the names are kept in.
  registry->remove("Software\\TAVIX\\VELTA\\RemoteLines", "COM4");
  EXPECT_EQ(resolved, line);
  EXPECT_TRUE(std::any_of(ports.begin(), ports.end(), [&](const PortEntry& p) {
    return p.comName == "COM4" && p.devicePath == line && p.mapped;
  }));
  EXPECT_EQ(resolvePortName(*registry, "COM4"), "COM4") << "unmapped again";
}

}  // namespace
