// Opening and releasing the port on both routes, and the registry line settings.

#include <string>
#include <vector>

#include "bus_fixture.h"

using namespace loopmon;
using namespace loopmon::testing;

namespace {

using Texts = std::vector<std::string>;

TEST(LineSettings, EmptyKeyGivesDefaultsAndWritesBackExactlyTwoValues) {
  struct System {
    bool isNt, isNt5;
    uint32_t startTimeout;
  } systems[] = {{true, false, 4}, {false, true, 4}, {false, false, 0}};
  for (const System& system : systems) {
    FakePlatform fakes;
    fakes.isNt = system.isNt;
    fakes.isNt5 = system.isNt5;
    BusState bus(fakes.platform());
    LoadLineSettings(bus);
    const LineSettings& s = bus.Settings;
    EXPECT_EQ(std::vector<uint32_t>({s.IntervalTimeout, s.TimeoutMultiplier, s.TimeoutConstant,
                                     s.CmdIntervalTimeout, s.CmdTimeoutMultiplier,
                                     s.CmdTimeoutConstant, s.SpeedRSS, s.TailInUS, s.StartTimeout}),
              std::vector<uint32_t>({0, 0, 30, 0, 0, 600, 1240, 400, system.startTimeout}));
    EXPECT_EQ(s.DeviceTimeout, 10);
    EXPECT_FALSE(s.SmartPI || s.USARTMode || s.PublishedCrcTable);
    EXPECT_EQ(fakes.registry->valueNames(LineSettingsKey), (Texts{"StartTimeout", "TailInUS"}));
    EXPECT_EQ(fakes.registry->read(LineSettingsKey, "StartTimeout"),
              RegValue::ofDword(system.startTimeout));
    EXPECT_EQ(fakes.registry->read(LineSettingsKey, "TailInUS"), RegValue::ofDword(400));
  }
}

TEST(LineSettings, StoredValuesAreReadAndNothingIsWritten) {
  FakePlatform fakes;
  const char* names[] = {"IntervalTimeout",      "TimeoutMultiplier",
                         "TimeoutConstant",      "CmdIntervalTimeout",
                         "CmdTimeoutMultiplier", "CmdTimeoutConstant",
                         "DeviceTimeout",        "SpeedRSS",
                         "StartTimeout",         "TailInUS"};
  uint32_t value = 11;
  for (const char* name : names)
    fakes.registry->set(LineSettingsKey, name, RegValue::ofDword(value++));
  // The flags count by their mere presence, whatever their type and content.
  fakes.registry->set(LineSettingsKey, "SmartPI", RegValue::ofString(""));
  fakes.registry->set(LineSettingsKey, "USARTMode", RegValue::ofBinary({}));
  fakes.registry->set(LineSettingsKey, "PublishedCrcTable", RegValue::ofDword(1));
  const int mutations = fakes.registry->mutations();

  BusState bus(fakes.platform());
  LoadLineSettings(bus);
  const LineSettings& s = bus.Settings;
  EXPECT_EQ(std::vector<uint32_t>({s.IntervalTimeout, s.TimeoutMultiplier, s.TimeoutConstant,
                                   s.CmdIntervalTimeout, s.CmdTimeoutMultiplier,
                                   s.CmdTimeoutConstant, static_cast<uint32_t>(s.DeviceTimeout),
                                   s.SpeedRSS, s.StartTimeout, s.TailInUS}),
            std::vector<uint32_t>({11, 12, 13, 14, 15, 16, 17, 18, 19, 20}));
  EXPECT_TRUE(s.SmartPI && s.USARTMode);
  EXPECT_EQ(bus.crcTable(), CrcTable::Published);
  EXPECT_EQ(fakes.registry->mutations(), mutations);

  fakes.registry->set(LineSettingsKey, "PublishedCrcTable", RegValue::ofDword(2));
  LoadLineSettings(bus);
  EXPECT_EQ(bus.crcTable(), CrcTable::Carried) << "only 1 selects the published table";
}

// A setting above 2^31 is what a "negative" entry reads as: it is kept as the
// unsigned number, not turned into a default or a small value.
TEST(LineSettings, LargeValuesStayUnsigned) {
  FakePlatform fakes;
  fakes.registry->set(LineSettingsKey, "CmdTimeoutConstant", RegValue::ofDword(0xFFFFFFFF));
  BusState bus(fakes.platform());
  LoadLineSettings(bus);
  EXPECT_EQ(bus.Settings.CmdTimeoutConstant, 0xFFFFFFFFu);
}

TEST(LineSettings, WrongTypeIsAnErrorNamingTheValue) {
  for (const char* name :
       {"IntervalTimeout", "CmdTimeoutConstant", "TailInUS", "StartTimeout", "PublishedCrcTable"}) {
    SCOPED_TRACE(name);
    FakePlatform fakes;
    fakes.registry->set(LineSettingsKey, name, RegValue::ofString("30"));
    const int mutations = fakes.registry->mutations();
    BusState bus(fakes.platform());
    try {
      LoadLineSettings(bus);
      ADD_FAILURE() << "no error";
    } catch (const LineSettingsError& error) {
      EXPECT_NE(std::string(error.what()).find(std::string("\"") + name + "\""), std::string::npos)
          << error.what();
    }
    EXPECT_EQ(fakes.registry->mutations(), mutations) << "nothing written";
  }
}

class SerialPortAccess : public BusTest {};

TEST_F(SerialPortAccess, OpensComPortAtNineSixHundredEightNOne) {
  fakes.registry->set(LineSettingsKey, "CmdIntervalTimeout", RegValue::ofDword(7));
  remake();
  bus->ComPort = 3;
  ASSERT_TRUE(OpenPort(*bus));
  EXPECT_EQ(fakes.line->callTexts(),
            (Texts{"open COM3", "getState", "setState 9600,8,0,0", "queues 300,0", "getTimeouts",
                   "timeouts 7,0,600,0,0"}));
  EXPECT_TRUE(bus->PortOpen());
}

TEST_F(SerialPortAccess, ReopenClosesFirstAndAFailedReopenLeavesItClosed) {
  ASSERT_TRUE(OpenPort(*bus));
  fakes.line->clearCalls();
  fakes.line->failOpens(1);
  EXPECT_FALSE(OpenPort(*bus));
  EXPECT_EQ(fakes.line->callTexts(), (Texts{"close", "open COM1 failed"}));
  EXPECT_FALSE(bus->PortOpen());
}

TEST_F(SerialPortAccess, DevicePathOverridesTheComName) {
  bus->PortPath = "/dev/pts/7";
  ASSERT_TRUE(OpenPort(*bus));
  EXPECT_EQ(fakes.line->calls().front().portName, "/dev/pts/7");
}

TEST_F(SerialPortAccess, CloseOnlyWhenOpen) {
  ClosePort(*bus);
  EXPECT_TRUE(fakes.line->calls().empty());
  ASSERT_TRUE(OpenPort(*bus));
  ClosePort(*bus);
  EXPECT_EQ(fakes.line->callTexts().back(), "close");
  EXPECT_FALSE(bus->PortOpen());
}

// Serial-port instances as the operating system lists them.
class DriverPortAccess : public BusTest {
 protected:
  static std::string instance(const char* name) {
    return std::string(SerialInstancesKey) + "\\" + name;
  }

  void SetUp() override {
    BusTest::SetUp();
    fakes.registry->set(instance("00"), "PortName", RegValue::ofString("COM1"));
    fakes.registry->set(instance("00"), "Settings", RegValue::ofBinary({1, 1, 1, 1}));
    fakes.registry->set(instance("01"), "PortName", RegValue::ofString("COM02"));
    fakes.registry->set(instance("01"), "Settings", RegValue::ofBinary({3, 3, 3, 3}));
    fakes.registry->set(instance("02"), "PortName", RegValue::ofString("COM2"));
    fakes.registry->set(instance("02"), "Settings", RegValue::ofBinary({2, 2, 2, 2}));
    fakes.registry->set(instance("03"), "PortName", RegValue::ofString("COM3"));
    useDriver();
    original = fakes.registry->dump();
  }

  std::optional<RegValue> settings(const char* name) {
    return fakes.registry->read(instance(name), "Settings");
  }

  std::string original;
};

TEST_F(DriverPortAccess, BindSavesAndBlanksTheMatchingInstanceOnly) {
  bus->ComPort = 2;
  ASSERT_TRUE(OpenPort(*bus));
  EXPECT_TRUE(bus->DriverReady);
  EXPECT_EQ(settings("02"), RegValue::ofBinary({0, 0, 0, 0}));
  EXPECT_EQ(settings("01"), RegValue::ofBinary({3, 3, 3, 3})) << "COM02 is not port 2";
  EXPECT_EQ(settings("00"), RegValue::ofBinary({1, 1, 1, 1}));
  ASSERT_EQ(fakes.driver->calls().size(), 1u);
  EXPECT_EQ(fakes.driver->calls()[0].code, DriverCode::Bind);
  EXPECT_EQ(fakes.driver->calls()[0].input, (Bytes{2, 0, 0, 0}));
  EXPECT_TRUE(fakes.line->calls().empty()) << "the serial port is the driver's";

  ClosePort(*bus);
  EXPECT_FALSE(bus->DriverReady);
  EXPECT_EQ(fakes.driver->codes(), (std::vector<uint32_t>{DriverCode::Bind, DriverCode::Release}));
  EXPECT_EQ(fakes.registry->dump(), original);
}

TEST_F(DriverPortAccess, InstanceWithoutSettingsLosesTheValueAgain) {
  bus->ComPort = 3;
  ASSERT_TRUE(OpenPort(*bus));
  EXPECT_EQ(settings("03"), RegValue::ofBinary({0, 0, 0, 0}));
  ClosePort(*bus);
  EXPECT_EQ(settings("03"), std::nullopt);
  EXPECT_EQ(fakes.registry->dump(), original);
}

TEST_F(DriverPortAccess, ReleaseWithoutBindTouchesNothing) {
  // The port instance has a value that no bind of ours wrote.
  bus->ComPort = 3;
  fakes.registry->set(instance("03"), "Settings", RegValue::ofBinary({9, 9, 9, 9}));
  const int mutations = fakes.registry->mutations();
  ClosePort(*bus);
  EXPECT_EQ(fakes.driver->codes(), (std::vector<uint32_t>{DriverCode::Release}));
  EXPECT_EQ(fakes.registry->mutations(), mutations);

  ASSERT_TRUE(OpenPort(*bus));
  ClosePort(*bus);
  ClosePort(*bus);
  EXPECT_EQ(settings("03"), RegValue::ofBinary({9, 9, 9, 9})) << "a second release changes nothing";
}

TEST_F(DriverPortAccess, ShortSettingsComeBackWithTheirOwnLength) {
  fakes.registry->set(instance("00"), "Settings", RegValue::ofBinary({7, 8}));
  const std::string before = fakes.registry->dump();
  ASSERT_TRUE(OpenPort(*bus));
  ClosePort(*bus);
  EXPECT_EQ(fakes.registry->dump(), before);
}

TEST_F(DriverPortAccess, UnusableSettingsAreAnErrorBeforeAnythingChanges) {
  for (RegValue bad :
       {RegValue::ofBinary({1, 2, 3, 4, 5}), RegValue::ofString("1111"), RegValue::ofDword(0)}) {
    fakes.registry->set(instance("00"), "Settings", bad);
    const std::string before = fakes.registry->dump();
    EXPECT_THROW(OpenPort(*bus), PortSettingsError);
    EXPECT_EQ(fakes.registry->dump(), before);
    EXPECT_FALSE(bus->DriverReady);
    EXPECT_TRUE(fakes.driver->calls().empty()) << "the driver is not bound";
  }
}

TEST_F(DriverPortAccess, NoInstancesStillBinds) {
  FakePlatform bare;
  bare.driver->setPresent(true);
  BusState other(bare.platform());
  LoadLineSettings(other);
  other.Driver = bare.driver->makeDriver();
  ASSERT_TRUE(other.Driver->open());
  const std::string before = bare.registry->dump();
  EXPECT_TRUE(OpenPort(other));
  EXPECT_TRUE(other.DriverReady);
  ClosePort(other);
  EXPECT_EQ(bare.registry->dump(), before);
}

// The session stores a new port number before it releases the old one; the
// release must restore the instance that the bind blanked, not the new one.
TEST_F(DriverPortAccess, ReleaseAfterAPortChangeRestoresTheBoundPort) {
  bus->ComPort = 1;
  ASSERT_TRUE(OpenPort(*bus));
  bus->ComPort = 2;
  ClosePort(*bus);
  EXPECT_EQ(fakes.registry->dump(), original);
}

// The search opens the port again after choosing the same one: the second bind
// must not take the blanked value for the original.
TEST_F(DriverPortAccess, BindOnTopOfABindKeepsTheOriginal) {
  ASSERT_TRUE(OpenPort(*bus));
  ASSERT_TRUE(OpenPort(*bus));
  EXPECT_EQ(settings("00"), RegValue::ofBinary({0, 0, 0, 0}));
  ClosePort(*bus);
  EXPECT_EQ(fakes.registry->dump(), original);
}

}  // namespace
