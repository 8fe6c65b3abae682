// The real engine and the real serial port on a pseudo-terminal, with a device
// on the other end that keeps 9600-baud timing.

#include <gtest/gtest.h>

#include <chrono>

#include "bus_fixture.h"
#include "platform/clock.h"
#include "pty_peer_posix.h"

using namespace loopmon;
using namespace loopmon::testing;
using namespace std::chrono_literals;

namespace {

const Bytes Status5{5, 6, 0, 13, 0, 0};  // long class: 600 ms to answer

// Answers every request to address 5 with `code`.
PtyPeer::Responder device5(uint8_t code) {
  return [code](const Bytes& request) -> std::optional<Bytes> {
    if (request[0] != 5 || request[3] == 3) return std::nullopt;
    return answerFrame(5, code, {0x21, request[3]});
  };
}

class PtyExchange : public ::testing::Test {
 protected:
  std::unique_ptr<BusState> engineOn(const PtyPeer& peer) {
    Platform platform;
    platform.clock = systemClock();
    platform.registry = registry;
    platform.makeSerialPort = [] { return makeSerialPort(); };
    auto bus = std::make_unique<BusState>(platform);
    LoadLineSettings(*bus);
    bus->PortPath = peer.devicePath();
    return bus;
  }

  std::shared_ptr<MemoryRegistry> registry = std::make_shared<MemoryRegistry>();
};

TEST_F(PtyExchange, AnswerAfterTheTurnaroundIsAccepted) {
  // Well after the 400 us tail, so that a slow machine still turns round first.
  PtyPeer peer(device5(0), 50ms);
  auto bus = engineOn(peer);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(Transact(*bus, Status5, 1)) << "exchange " << i;
    EXPECT_EQ(bus->Answer, answerFrame(5, 0, {0x21, 13}));
  }
  EXPECT_EQ(peer.requests(), std::vector<Bytes>(3, withChecksum(Status5)));
}

TEST_F(PtyExchange, AnswerBeforeTheTurnaroundIsPurged) {
  // The engine waits 200 ms past the last stop bit; the device answers after 1 ms.
  registry->set(LineSettingsKey, "TailInUS", RegValue::ofDword(200'000));
  PtyPeer peer(device5(0), 1ms);
  auto bus = engineOn(peer);
  EXPECT_FALSE(Transact(*bus, Status5, 1));
  EXPECT_TRUE(bus->Answer.empty());
  EXPECT_EQ(peer.requests().size(), 1u);
}

TEST_F(PtyExchange, EventIsAcknowledgedOnTheLine) {
  PtyPeer peer(device5(4), 50ms);
  auto bus = engineOn(peer);
  ASSERT_TRUE(Transact(*bus, Status5, 1));
  EXPECT_EQ(bus->AnswerFrame.toBytes(), answerFrame(5, 4, {0x21, 13}));
  EXPECT_EQ(peer.requests(), (std::vector<Bytes>{withChecksum(Status5), {5, 6, 0, 3, 0, 1, 0xCD}}));
}

TEST_F(PtyExchange, PaddedSendReachesTheDeviceToo) {
  registry->set(LineSettingsKey, "USARTMode", RegValue::ofDword(1));
  PtyPeer peer(device5(0), 50ms);
  auto bus = engineOn(peer);
  ASSERT_TRUE(Transact(*bus, Status5, 1));
  ASSERT_TRUE(Transact(*bus, Status5, 1));
  EXPECT_EQ(peer.requests(), std::vector<Bytes>(2, withChecksum(Status5)));
}

}  // namespace
