// Opening and releasing the port on both routes, and the registry line settings.

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "bus_fixture.h"
#include "platform/serial/read_deadline.h"

using namespace loopmon;
using namespace loopmon::testing;

namespace {

using Texts = std::vector<std::string>;
using Numbers = std::vector<uint32_t>;

const char* const NumberNames[] = {"IntervalTimeout",      "TimeoutMultiplier",
                                   "TimeoutConstant",      "CmdIntervalTimeout",
                                   "CmdTimeoutMultiplier", "CmdTimeoutConstant",
                                   "DeviceTimeout",        "SpeedRSS",
                                   "StartTimeout",         "TailInUS"};

// The numeric settings in the order of NumberNames.
Numbers numbers(const LineSettings& s) {
  Numbers all{s.IntervalTimeout, s.TimeoutMultiplier, s.TimeoutConstant, s.CmdIntervalTimeout};
  all.insert(all.end(), {s.CmdTimeoutMultiplier, s.CmdTimeoutConstant, uint32_t(s.DeviceTimeout),
                         s.SpeedRSS, s.StartTimeout, s.TailInUS});
  return all;
}

TEST(LineSettings, EmptyKeyGivesDefaultsAndWritesBackExactlyTwoValues) {
  for (auto [isNt, isNt5, startTimeout] :
       {std::tuple{true, false, 4u}, {false, true, 4u}, {false, false, 0u}}) {
    FakePlatform fakes;
    fakes.isNt = isNt;
    fakes.isNt5 = isNt5;
    BusState bus(fakes.platform());
    LoadLineSettings(bus);
    EXPECT_EQ(numbers(bus.Settings), (Numbers{0, 0, 30, 0, 0, 600, 10, 1240, startTimeout, 400}));
    EXPECT_FALSE(bus.Settings.SmartPI || bus.Settings.USARTMode || bus.Settings.PublishedCrcTable);
    EXPECT_EQ(fakes.registry->valueNames(LineSettingsKey), (Texts{"StartTimeout", "TailInUS"}));
    EXPECT_EQ(fakes.registry->read(LineSettingsKey, "StartTimeout"),
              RegValue::ofDword(startTimeout));
    EXPECT_EQ(fakes.registry->read(LineSettingsKey, "TailInUS"), RegValue::ofDword(400));
  }
}

TEST(LineSettings, StoredValuesAreReadAndNothingIsWritten) {
  FakePlatform fakes;
  uint32_t value = 11;
  for (const char* name : NumberNames) {
    fakes.registry->set(LineSettingsKey, name, RegValue::ofDword(value++));
  }
  // A "negative" entry reads as a very large number, and is bounded.
  fakes.registry->set(LineSettingsKey, "CmdTimeoutConstant", RegValue::ofDword(0xFFFFFFFF));
  // The flags count by their mere presence, whatever their type and content.
  fakes.registry->set(LineSettingsKey, "SmartPI", RegValue::ofString(""));
  fakes.registry->set(LineSettingsKey, "USARTMode", RegValue::ofBinary({}));
  fakes.registry->set(LineSettingsKey, "PublishedCrcTable", RegValue::ofDword(1));
  const int mutations = fakes.registry->mutations();

  BusState bus(fakes.platform());
  LoadLineSettings(bus);
  EXPECT_EQ(numbers(bus.Settings), (Numbers{11, 12, 13, 14, 15, 10000, 17, 18, 19, 20}));
  EXPECT_TRUE(bus.Settings.SmartPI && bus.Settings.USARTMode);
  EXPECT_EQ(bus.crcTable(), CrcTable::Published);
  EXPECT_EQ(fakes.registry->mutations(), mutations);

  fakes.registry->set(LineSettingsKey, "PublishedCrcTable", RegValue::ofDword(2));
  LoadLineSettings(bus);
  EXPECT_EQ(bus.crcTable(), CrcTable::Carried) << "only 1 selects the published table";
}

// Every combination of boundary values gives reads that end within the
// documented bounds, local and remote, through the code that sets a read's
// time-outs; the port's own MAXDWORD modes keep their meaning, and the
// registry keeps what it holds.
TEST(LineSettings, EveryStoredCombinationEndsItsReadsWithinTheBounds) {
  using std::chrono::milliseconds;
  constexpr uint32_t Max = 0xFFFFFFFF;
  const uint32_t values[] = {0, 1, 10000, 10001, Max - 1, Max};
  const ReadDeadline::TimePoint start{};
  for (const uint32_t interval : values) {
    for (const uint32_t multiplier : values) {
      for (const uint32_t constant : values) {
        for (const uint32_t allowance : {0u, 50u, 5001u, Max}) {
          FakePlatform fakes;
          for (const auto& [name, value] : {std::pair{"IntervalTimeout", interval},
                                            {"CmdIntervalTimeout", interval},
                                            {"TimeoutMultiplier", multiplier},
                                            {"CmdTimeoutMultiplier", multiplier},
                                            {"TimeoutConstant", constant},
                                            {"CmdTimeoutConstant", constant},
                                            {"NetworkAllowance", allowance},
                                            {"StartTimeout", interval},
                                            {"TailInUS", constant}}) {
            fakes.registry->set(LineSettingsKey, name, RegValue::ofDword(value));
          }
          BusState bus(fakes.platform());
          LoadLineSettings(bus);
          EXPECT_LE(bus.Settings.StartTimeout, 1000u);
          EXPECT_LE(bus.Settings.TailInUS, 20000u);
          EXPECT_EQ(fakes.registry->read(LineSettingsKey, "TailInUS"), RegValue::ofDword(constant));
          for (const bool shortClass : {true, false}) {
            for (const bool remote : {false, true}) {
              SCOPED_TRACE(::testing::Message()
                           << interval << "," << multiplier << "," << constant << " allowance "
                           << allowance << " short " << shortClass << " remote " << remote);
              const CommTimeouts timeouts = ReadTimeouts(bus.Settings, shortClass, remote);
              for (const size_t count : {size_t{6}, size_t{26}}) {
                const auto bound = milliseconds(100 * count + 10000 + (remote ? 5000 : 0));
                ReadDeadline read(timeouts, count, start);
                EXPECT_LE(read.remaining(start, 0), bound);
                read.bytesArrived(start);
                const bool firstBytes = interval == Max && multiplier == Max;
                EXPECT_TRUE(!firstBytes ||
                            read.remaining(start, 1) == ReadDeadline::Duration::zero())
                    << "returns with the first bytes";
              }
            }
          }
        }
      }
    }
  }
}

TEST(LineSettings, WrongTypeIsAnErrorNamingTheValue) {
  for (const char* name : {"IntervalTimeout", "TailInUS", "StartTimeout", "PublishedCrcTable"}) {
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

class PortAccess : public BusTest {};

TEST_F(PortAccess, SerialOpenReopenAndClose) {
  fakes.registry->set(LineSettingsKey, "CmdIntervalTimeout", RegValue::ofDword(7));
  remake();
  ClosePort(*bus);
  EXPECT_TRUE(fakes.line->calls().empty()) << "nothing to close";
  bus->ComPort = 3;
  ASSERT_TRUE(OpenPort(*bus));
  EXPECT_EQ(callLog(),
            "open COM3|getState|setState 9600,8,0,0|queues 300,0|getTimeouts|timeouts 7,0,600,0,0");
  EXPECT_TRUE(bus->PortOpen());

  fakes.line->clearCalls();
  fakes.line->failOpens(1);
  bus->PortPath = "/dev/pts/7";
  EXPECT_FALSE(OpenPort(*bus));
  EXPECT_EQ(callLog(), "close|open /dev/pts/7 failed")
      << "closed first; a device path stands in for the COM name";
  EXPECT_FALSE(bus->PortOpen());

  ASSERT_TRUE(OpenPort(*bus));
  ClosePort(*bus);
  EXPECT_EQ(fakes.line->callTexts().back(), "close");
  EXPECT_FALSE(bus->PortOpen());
}

const RegValue Blank = RegValue::ofBinary({0, 0, 0, 0});

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
  EXPECT_EQ(settings("02"), Blank);
  EXPECT_EQ(settings("01"), RegValue::ofBinary({3, 3, 3, 3})) << "COM02 is not port 2";
  EXPECT_EQ(settings("00"), RegValue::ofBinary({1, 1, 1, 1}));
  ASSERT_EQ(fakes.driver->codes(), (std::vector<uint32_t>{DriverCode::Bind}));
  EXPECT_EQ(fakes.driver->calls()[0].input, (Bytes{2, 0, 0, 0}));
  EXPECT_TRUE(fakes.line->calls().empty()) << "the serial port is the driver's";

  ClosePort(*bus);
  EXPECT_FALSE(bus->DriverReady);
  EXPECT_EQ(fakes.driver->codes(), (std::vector<uint32_t>{DriverCode::Bind, DriverCode::Release}));
  EXPECT_EQ(fakes.registry->dump(), original);
}

TEST_F(DriverPortAccess, MissingOrShortSettingsComeBackAsTheyWere) {
  bus->ComPort = 3;
  ASSERT_TRUE(OpenPort(*bus));
  EXPECT_EQ(settings("03"), Blank);
  ClosePort(*bus);
  EXPECT_EQ(fakes.registry->dump(), original) << "the value is gone again";

  fakes.registry->set(instance("03"), "Settings", RegValue::ofBinary({7, 8}));
  const std::string before = fakes.registry->dump();
  ASSERT_TRUE(OpenPort(*bus));
  ClosePort(*bus);
  EXPECT_EQ(fakes.registry->dump(), before);
}

TEST_F(DriverPortAccess, ReleaseWithoutBindTouchesNothing) {
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

TEST_F(PortAccess, DriverBindsWithoutAnyPortInstance) {
  useDriver();
  const std::string before = fakes.registry->dump();
  EXPECT_TRUE(OpenPort(*bus));
  EXPECT_TRUE(bus->DriverReady);
  ClosePort(*bus);
  EXPECT_EQ(fakes.registry->dump(), before);
}

// The session stores a new port number before it releases the old one; the
// release must restore the instance that the bind blanked, not the new one.
TEST_F(DriverPortAccess, ReleaseAfterAPortChangeRestoresTheBoundPort) {
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
  EXPECT_EQ(settings("00"), Blank);
  ClosePort(*bus);
  EXPECT_EQ(fakes.registry->dump(), original);
}

}  // namespace
