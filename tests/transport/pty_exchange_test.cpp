// The real engine and the real serial port on a pseudo-terminal, with a device
// on the other end that keeps 9600-baud timing.

#include <gtest/gtest.h>

#include <chrono>

#include "bus_fixture.h"
#include "platform/system/clock.h"
#include "pty_peer_posix.h"

using namespace loopmon;
using namespace loopmon::testing;
using namespace std::chrono_literals;

namespace {

const Bytes Status5{5, 6, 0, 13, 0, 0};  // long class: 600 ms to answer

// A device at address 5 that answers every request after `delay`.
struct Device5 {
  explicit Device5(std::chrono::microseconds delay, uint32_t tailMicros = 400)
      : peer(
            [](const Bytes& request) {
              return answerFrame(5, 0, {0x21, request[3]});
            },
            delay) {
    registry->set(LineSettingsKey, "TailInUS", RegValue::ofDword(tailMicros));
    Platform platform;
    platform.clock = systemClock();
    platform.registry = registry;
    platform.makeSerialPort = [] { return makeSerialPort(); };
    bus = std::make_unique<BusState>(platform);
    LoadLineSettings(*bus);
    bus->PortPath = peer.devicePath();
  }

  PtyPeer peer;
  std::shared_ptr<MemoryRegistry> registry = std::make_shared<MemoryRegistry>();
  std::unique_ptr<BusState> bus;
};

TEST(PtyExchange, AnswerAfterTheTurnaroundIsAccepted) {
  // Well after the 400 us tail, so that a slow machine still turns round first.
  Device5 device(50ms);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(Transact(*device.bus, Status5, 1)) << "exchange " << i;
    EXPECT_EQ(device.bus->Answer, answerFrame(5, 0, {0x21, 13}));
  }
  EXPECT_EQ(device.peer.requests(), std::vector<Bytes>(3, withChecksum(Status5)));
}

TEST(PtyExchange, AnswerBeforeTheTurnaroundIsPurged) {
  // The engine waits 200 ms past the last stop bit; the device answers after 1 ms.
  Device5 device(1ms, 200'000);
  EXPECT_FALSE(Transact(*device.bus, Status5, 1));
  EXPECT_TRUE(device.bus->Answer.empty());
  EXPECT_EQ(device.peer.requests().size(), 1u);
}

}  // namespace
