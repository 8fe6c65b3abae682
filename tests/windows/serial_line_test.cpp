// The transaction engine of the Windows build on a real serial line: COM1 of
// the Wine prefix is a pseudo-terminal whose other side is a device peer on
// the Linux side (com_peer.sh), so every frame crosses the Win32 comm API,
// Wine's serial driver and the pseudo-terminal both ways.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/platform.h"
#include "transport/bus_state.h"

using namespace loopmon;

namespace {

constexpr uint8_t PeerAddress = 5;

Platform windowsPlatform() {
  Platform platform;
  platform.clock = systemClock();
  platform.registry = openSystemRegistry();
  platform.markers = makeMarkerService();
  platform.makeSerialPort = makeSerialPort;
  platform.makeBusDriver = makeBusDriver;
  return platform;
}

// What the peer accepted, one frame a line.
std::vector<std::string> peerLog() {
  std::ifstream in(LOOPMON_PEER_LOG);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class SerialLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bus.ComPort = 1;
    LoadLineSettings(bus);
  }
  void TearDown() override { ClosePort(bus); }

  // Up to six attempts, as the session's direct request makes: both ends of
  // the line run on one busy host here, and an answer that comes before the
  // master has purged its input is lost the way it would be on a real bus.
  bool request(uint8_t address, uint8_t command, uint8_t data) {
    for (int attempt = 0; attempt < 6; ++attempt) {
      if (Transact(bus, Bytes{address, 6, 0, command, data, 0}, 1)) return true;
    }
    return false;
  }

  BusState bus{windowsPlatform()};
};

TEST_F(SerialLineTest, DeviceAnswersAcrossTheLine) {
  ASSERT_TRUE(OpenPort(bus)) << "COM1 is the pseudo-terminal of com_peer.sh";
  ASSERT_TRUE(request(PeerAddress, 1, 0)) << "presence, within the short time-outs";
  const Bytes present{5, 5, 2, 0, 0};
  EXPECT_EQ(bus.Answer, (Bytes{5, 5, 2, 0, 0, FrameChecksum(present)}));

  ASSERT_TRUE(request(PeerAddress, 13, 0));
  EXPECT_EQ(bus.Answer[3], 1) << "type";
  EXPECT_EQ(bus.Answer[4], 160) << "version";

  for (uint8_t loop : {1, 2, 20}) {
    ASSERT_TRUE(request(PeerAddress, 0x1B, loop)) << "loop " << int{loop};
    EXPECT_EQ(bus.Answer[4], 100 + loop);
  }

  EXPECT_FALSE(request(PeerAddress + 1, 1, 0)) << "nobody at address 6";
  EXPECT_TRUE(bus.Answer.empty());
  ASSERT_TRUE(request(PeerAddress, 1, 0)) << "the line is clean again after a silent address";
}

TEST_F(SerialLineTest, EventAnswerIsAcknowledgedOnTheLine) {
  ASSERT_TRUE(request(PeerAddress, 0x19, 3));
  EXPECT_EQ(bus.Answer[2], 4) << "an event answer";
  // The peer logs frames as they arrive; one more exchange makes sure the
  // acknowledgement, sent right after the answer, is in.
  ASSERT_TRUE(request(PeerAddress, 1, 0));
  const std::vector<std::string> log = peerLog();
  const auto ack = std::find(log.rbegin(), log.rend(), "5 6 0 3 0 1 205");
  ASSERT_NE(ack, log.rend()) << "the acknowledgement, as the peer saw it";
  ASSERT_NE(std::next(ack), log.rend());
  EXPECT_EQ(*std::next(ack), "5 6 0 25 3 0 " + std::to_string(FrameChecksum({5, 6, 0, 25, 3, 0})))
      << "right after the request it acknowledges";
}

}  // namespace
