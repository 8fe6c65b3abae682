// The whole serial route: the transaction engine on the real POSIX serial port,
// talking to `loopsim pty` over a pseudo-terminal at 9600-baud timing.

#include <gtest/gtest.h>

#include "line_fixture.h"
#include "memory_registry.h"
#include "transport/bus_state.h"

using namespace loopmon;
using namespace loopmon::testing;

namespace {

// The devices take their time to answer: the engine empties its receive
// buffer right after the send, and a test process held up there by a busy
// machine must not throw away an answer that came too soon.
const char* const Scenario = R"(
[bus]
drift = no
latency-us = 30000
[device 5]
type = 1
version = 105
loop.2 = 0
loop.3 = 160, disarmed
[device 20]
type = 4
event = 4 3 2
[device 30]
silent = yes
[device 40]
type = 2
version = 160
key = 0x5A
[device 63]
type = 11
version = 105
[device 127]
type = 9
line.1 = 5
line.8 = 9
)";

class SerialRoute : public ::testing::Test {
 protected:
  void open(const std::vector<std::string>& loopsimArgs = {}) {
    line = std::make_unique<SimulatedLine>(Scenario, loopsimArgs);
    ASSERT_FALSE(line->device().empty());
    // Read time-outs far above the default 30 and 600 ms: loopsim answers at
    // wire speed, but on a busy machine it may not run in time.
    auto registry = std::make_shared<MemoryRegistry>();
    registry->set(LineSettingsKey, "TimeoutConstant", RegValue::ofDword(1000));
    registry->set(LineSettingsKey, "CmdTimeoutConstant", RegValue::ofDword(1000));
    Platform platform;
    platform.clock = systemClock();
    platform.registry = registry;
    platform.markers = makeMarkerService();
    platform.simulatorLink = makeSimulatorLink();
    platform.makeSerialPort = [] { return makeSerialPort(); };
    bus = std::make_unique<BusState>(platform);
    bus->PortPath = line->device();
    LoadLineSettings(*bus);
  }

  // The answer without its checksum, or nothing when the exchange failed.
  std::optional<Bytes> exchange(const Bytes& request) {
    if (!Transact(*bus, PrepareRequest(*bus, request), 1)) return std::nullopt;
    return Bytes(bus->Answer.begin(), bus->Answer.end() - 1);
  }

  std::unique_ptr<SimulatedLine> line;
  std::unique_ptr<BusState> bus;
};

}  // namespace

TEST_F(SerialRoute, SearchAndReadLoops) {
  open();
  ASSERT_GT(bus->CounterFrequency, 0) << "the timed send";
  EXPECT_EQ(exchange({5, 6, 0, 1, 0, 0}), (Bytes{5, 5, 2, 0, 0}));
  EXPECT_EQ(exchange({5, 6, 0, 13, 0, 0}), (Bytes{5, 5, 0, 1, 105}));
  EXPECT_EQ(exchange({63, 6, 0, 1, 0, 0}), (Bytes{63, 5, 2, 0, 0})) << "through entry 0xF9";
  EXPECT_EQ(exchange({63, 6, 0, 13, 0, 0}), (Bytes{63, 5, 0, 11, 105}));
  EXPECT_EQ(exchange({5, 6, 0, 0x1B, 2, 0}), (Bytes{5, 5, 0x1C, 2, 0}));
  EXPECT_EQ(exchange({5, 6, 0, 0x1B, 3, 0}), (Bytes{5, 5, 0x1C, 3, 160}));
  EXPECT_EQ(exchange({5, 6, 0, 0x19, 3, 0}), (Bytes{5, 5, 0x1A, 3, 109}));
  EXPECT_EQ(exchange({127, 6, 0, 0x39, 1, 1}), (Bytes{127, 5, 0x3A, 1, 5}));
  EXPECT_EQ(exchange({127, 6, 0, 0x39, 8, 1}), (Bytes{127, 5, 0x3A, 1, 9}));
  EXPECT_EQ(exchange({30, 6, 0, 1, 0, 0}), std::nullopt) << "silent";
  EXPECT_EQ(exchange({5, 6, 0, 1, 0, 0}), (Bytes{5, 5, 2, 0, 0})) << "and the line goes on";
}

TEST_F(SerialRoute, EventAnswerAcknowledgedOnTheLine) {
  open();
  EXPECT_EQ(exchange({20, 6, 0, 1, 0, 1}), (Bytes{20, 5, 4, 3, 2}));
  EXPECT_EQ(exchange({20, 6, 0, 1, 0, 1}), (Bytes{20, 5, 2, 0, 0}))
      << "the device heard the acknowledgement";
}

TEST_F(SerialRoute, PaddedSend) {
  open();
  bus->Settings.USARTMode = true;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(exchange({5, 6, 0, 1, 0, 0}), (Bytes{5, 5, 2, 0, 0})) << "0xFF padding skipped";
  }
}

TEST_F(SerialRoute, KeyedForm) {
  open();
  bus->KeyedMode = true;
  bus->KeyWord[40] = 0x5A;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(exchange({40, 6, 0, 13, 0, 0}), (Bytes{40, 5, 0, 2, 160}))
        << "new modifier each time";
  }
  bus->KeyWord[40] = 0x33;
  EXPECT_NE(exchange({40, 6, 0, 13, 0, 0}), (Bytes{40, 5, 0, 2, 160})) << "a wrong key garbles";
}

TEST_F(SerialRoute, ChecksumTables) {
  open({"--crc", "published"});
  EXPECT_EQ(exchange({5, 6, 0, 1, 0, 0}), (Bytes{5, 5, 2, 0, 0}));
  EXPECT_EQ(exchange({63, 6, 0, 1, 0, 0}), std::nullopt) << "the tables differ at 0xF9";
  bus->Settings.PublishedCrcTable = true;
  EXPECT_EQ(exchange({63, 6, 0, 1, 0, 0}), (Bytes{63, 5, 2, 0, 0}));
}
