// The simulator exchanges against a real `loopsim serve`, and against replies
// that no good server gives.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <thread>

#include "platform/named_marker.h"
#include "platform/simulator_socket_posix.h"
#include "sim_fixture.h"

using namespace loopmon;
using namespace loopmon::testing;

namespace {

const Bytes Presence5{5, 6, 0, 1, 0, 0};

using Log = std::vector<std::string>;

const char* const Scenario = R"(
[bus]
drift = no
[device 5]
type = 1
version = 105
loop.4 = 137
[device 20]
type = 4
event = 4 3 2
[device 24]
type = 24
[device 30]
silent = yes
[device 63]
type = 11
)";

}  // namespace

TEST(SimulatorReplies, WhatTheDirectSideAccepts) {
  struct Case {
    const char* reply;
    bool accepted;
    Bytes answer;
  };
  const Case cases[] = {
      {"5 5 2 0 0 28", true, {5, 5, 2, 0, 0, 28}},
      {"133 5 2 0 0 215", true, {5, 5, 2, 0, 0, 215}},    // bit 7 of the address dropped
      {"5 3 2 220", true, {5, 3, 2, 220}},                // no 6..31 bound here
      {"5 5 2 0 0 28 1 2 3", true, {5, 5, 2, 0, 0, 28}},  // numbers past the Length ignored
      {"", false, {}},
      {"5 5 2 0 0 27", false, {}},   // wrong checksum
      {"0 5 2 0 0 206", false, {}},  // address 0
      {"5 6 2 0 0 28", false, {}},   // fewer numbers than Length + 1
      {"5", false, {}},
      {"5 255 2 0 0 28", false, {}},  // Length 255
      {"5 5 2 0 0 x", false, {}},
      {"5 5 2 0 0 256", false, {}},
      {"5  5 2 0 0 28", false, {}},
      {"5 5 2 0 0 28 ", false, {}},
      {"-5 5 2 0 0 28", false, {}},
  };
  std::string overlong = "5 5 2 0 0 28";
  for (int i = 0; i < 300; ++i) overlong += " 0";
  for (const auto& [reply, accepted, answer] : cases) {
    SimulatorBus sim(nullptr);
    sim.bus.Answer = {9, 9, 9};
    sim.link->scriptedReplies = {reply};
    EXPECT_EQ(SimTransactDirect(sim.bus, Presence5, 1), accepted) << '"' << reply << '"';
    EXPECT_EQ(sim.bus.Answer, answer) << '"' << reply << '"';
    EXPECT_EQ(sim.bus.AnswerFrame.toBytes(), answer) << '"' << reply << '"';
  }
  SimulatorBus sim(nullptr);
  sim.link->scriptedReplies = {overlong};
  EXPECT_FALSE(SimTransactDirect(sim.bus, Presence5, 1)) << "more than 255 numbers";
}

TEST(SimulatorReplies, KeyedAnswerIsDescrambled) {
  SimulatorBus sim(nullptr);
  sim.bus.KeyWord[5] = 0x5A;
  const uint8_t key = 0x5A ^ 0x11;
  Bytes keyed{133, 5, static_cast<uint8_t>(0 ^ key), static_cast<uint8_t>(2 ^ key),
              static_cast<uint8_t>(160 ^ key)};
  keyed.push_back(FrameChecksum(keyed));
  sim.link->scriptedReplies = {frameToText(keyed)};
  ASSERT_TRUE(SimTransactDirect(sim.bus, {133, 6, 0x11, 13, 0, 0}, 1));
  EXPECT_EQ(Bytes(sim.bus.Answer.begin(), sim.bus.Answer.end() - 1), (Bytes{5, 5, 0, 2, 160}));
  const Log log = sim.log.take();
  ASSERT_EQ(log.size(), 4u);
  const Bytes sent = frameOf(log[2].substr(log[2].find(' ') + 1));
  EXPECT_EQ(sent[0], 133);
  EXPECT_EQ(sent[3], 13 ^ key) << "command scrambled on the way out";
}

TEST(SimulatorExchanges, DirectSideAgainstTheServer) {
  SimulatorServer server(Scenario);
  ASSERT_TRUE(server.ready());
  SimulatorBus sim(makeSimulatorLink());

  ASSERT_TRUE(SimTransactDirect(sim.bus, Presence5, 1));
  EXPECT_EQ(sim.bus.Answer, (Bytes{5, 5, 2, 0, 0, 28}));
  EXPECT_EQ(sim.log.take(), (Log{"create Transceiving", "sleep 30", "Transceiving 5 6 0 1 0 0 220",
                                 "release Transceiving"}))
      << "a new object per exchange, the pause before the call";

  ASSERT_TRUE(SimTransactDirect(sim.bus, {5, 6, 0, 13, 0, 0}, 1));
  EXPECT_EQ(sim.bus.Answer, (Bytes{5, 5, 0, 1, 105, 110}));
  ASSERT_TRUE(SimTransactDirect(sim.bus, {5, 6, 0, 0x1B, 4, 0}, 1));
  EXPECT_EQ(sim.bus.Answer[4], 137);
  ASSERT_TRUE(SimTransactDirect(sim.bus, {63, 6, 0, 1, 0, 0}, 1)) << "through entry 0xF9";
  sim.log.take();

  // An event answer is acknowledged through the same object; the device then
  // has nothing more to report.
  ASSERT_TRUE(SimTransactDirect(sim.bus, {20, 6, 0, 1, 0, 1}, 1));
  EXPECT_EQ(sim.bus.Answer[2], 4);
  EXPECT_EQ(sim.bus.AnswerFrame.count, 6);
  EXPECT_EQ(sim.log.take(),
            (Log{"create Transceiving", "sleep 30", "Transceiving 20 6 0 1 0 1 238", "sleep 2",
                 "Transceiving 20 6 0 3 0 1 161", "release Transceiving"}));
  ASSERT_TRUE(SimTransactDirect(sim.bus, {20, 6, 0, 1, 0, 1}, 1));
  EXPECT_EQ(sim.bus.Answer[2], 2);

  // Mode 0: the request still goes out, the answer fields stay as they were.
  sim.log.take();
  EXPECT_TRUE(SimTransactDirect(sim.bus, Presence5, 0));
  EXPECT_EQ(sim.bus.Answer[2], 2);
  EXPECT_EQ(sim.bus.AnswerFrame.count, 0);
  EXPECT_EQ(sim.log.take()[2], "Transceiving 5 6 0 1 0 0 220");

  EXPECT_FALSE(SimTransactDirect(sim.bus, {30, 6, 0, 1, 0, 0}, 1)) << "a silent device";
  EXPECT_TRUE(sim.bus.Answer.empty());
  EXPECT_FALSE(SimTransactDirect(sim.bus, {99, 6, 0, 1, 0, 0}, 1)) << "nobody there";
  sim.log.take();

  EXPECT_FALSE(SimTransactDirect(sim.bus, {5, 6, 0, 1}, 1));
  EXPECT_EQ(sim.log.take(), (Log{"create Transceiving", "release Transceiving"}))
      << "a short request makes no call, the object is released all the same";
}

TEST(SimulatorExchanges, WorkerSideAgainstTheServer) {
  SimulatorServer server(Scenario);
  ASSERT_TRUE(server.ready());
  SimulatorBus sim(makeSimulatorLink());

  EXPECT_FALSE(SimTransactWorker(sim.bus, {5, 6, 0, 1, 0, 1}, 1)) << "no worker object yet";
  EXPECT_EQ(sim.log.take(), Log{}) << "no call, no pause";

  CreateWorkerSimulator(sim.bus);
  ASSERT_TRUE(SimTransactWorker(sim.bus, {5, 6, 0, 1, 0, 1}, 1));
  EXPECT_EQ(sim.bus.Answer, (Bytes{5, 5, 2, 0, 0, 28}));
  EXPECT_EQ(sim.log.take(), (Log{"create Obmen", "Obmen 5 6 0 1 0 1 130", "sleep 20"}));

  ASSERT_TRUE(SimTransactWorker(sim.bus, {20, 6, 0, 1, 0, 1}, 1));
  EXPECT_EQ(sim.log.take(),
            (Log{"Obmen 20 6 0 1 0 1 238", "sleep 20", "sleep 2", "Obmen 20 6 0 3 0 1 161"}))
      << "acknowledged through the worker's own object";

  ASSERT_TRUE(SimTransactWorker(sim.bus, {24, 6, 0, 13, 0, 0}, 1));
  EXPECT_EQ(sim.bus.Answer[3], 24);
  EXPECT_EQ(sim.log.take().back(), "sleep 1") << "the extra pause after byte 3 = 24";

  EXPECT_TRUE(SimTransactWorker(sim.bus, {30, 6, 0, 1, 0, 1}, 0));
  EXPECT_EQ(sim.log.take(), (Log{"Obmen 30 6 0 1 0 1 33", "sleep 20"}));

  DropWorkerSimulator(sim.bus);
  EXPECT_EQ(sim.log.take(), Log{"release Obmen"});
}

TEST(SimulatorExchanges, NoServerRaisesOnTheDirectSide) {
  PrivateRuntimeFolder runtime;
  SimulatorBus sim(makeSimulatorLink());
  EXPECT_THROW(SimTransactDirect(sim.bus, Presence5, 1), SimulatorUnavailable);
  EXPECT_THROW(SimTransactDirect(sim.bus, {5, 6, 0, 1}, 1), SimulatorUnavailable)
      << "the object comes before the request is looked at";
  EXPECT_THROW(CreateWorkerSimulator(sim.bus), SimulatorUnavailable);
  EXPECT_FALSE(sim.bus.Simulator.workerObject);
  EXPECT_FALSE(SimTransactWorker(sim.bus, Presence5, 1));

  SimulatorBus noLink(nullptr);
  noLink.bus.platform.simulatorLink = nullptr;
  EXPECT_FALSE(SimTransactDirect(noLink.bus, Presence5, 1)) << "no link, no object, no answer";
}

TEST(SimulatorExchanges, ServerThatStopsOrHangs) {
  SimulatorServer server(Scenario);
  ASSERT_TRUE(server.ready());
  SimulatorBus sim(makeSimulatorLink());
  CreateWorkerSimulator(sim.bus);
  ASSERT_TRUE(SimTransactWorker(sim.bus, Presence5, 1));

  // A hung server: the call gives up and the exchange fails.
  server.process().pause();
  EXPECT_FALSE(SimTransactWorker(sim.bus, Presence5, 1));
  EXPECT_TRUE(sim.bus.Answer.empty());

  server.process().kill();
  EXPECT_FALSE(SimTransactWorker(sim.bus, Presence5, 1));
  EXPECT_THROW(SimTransactDirect(sim.bus, Presence5, 1), SimulatorUnavailable);

  // The worker's object finds a new server on its own.
  LoopsimProcess again(LOOPSIM_BINARY, {"serve"});
  ASSERT_TRUE(again.readLine().starts_with("loopsim: serving on "));
  EXPECT_TRUE(SimTransactWorker(sim.bus, Presence5, 1));
  EXPECT_EQ(again.stop(), 0);
}

// A stand-in server that answers every line with `reply` (then closes when
// `closeAfter`), for what no loopsim would send.
class RogueServer {
 public:
  RogueServer(std::string reply, bool closeAfter) {
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = simulatorSocketPath();
    std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", path.c_str());
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    listen(listener_, 4);
    thread_ = std::thread([this, reply = std::move(reply), closeAfter] {
      while (true) {
        const int client = accept(listener_, nullptr, nullptr);
        if (client < 0) return;
        char chunk[4096];
        while (recv(client, chunk, sizeof(chunk), 0) > 0) {
          send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
          if (closeAfter) break;
        }
        close(client);
      }
    });
  }
  ~RogueServer() {
    shutdown(listener_, SHUT_RDWR);
    thread_.join();
    close(listener_);
    unlink(simulatorSocketPath().c_str());
  }

 private:
  int listener_;
  std::thread thread_;
};

TEST(SimulatorExchanges, RogueServerRepliesFailCleanly) {
  PrivateRuntimeFolder runtime;
  const std::pair<std::string, bool> replies[] = {
      {std::string(100'000, '7'), false},       // no end of line
      {"5 5 2 0 0 28\n5 5 2 0 0 28\n", false},  // two lines for one call
      {"", true},                               // closes without a word
      {"5 5 2 0", true},                        // closes in mid-line
      {std::string("5 5 2 0 0 28\0\n", 14), false},
      {"garbage \xff\xfe\n", false},
  };
  for (const auto& [reply, closeAfter] : replies) {
    RogueServer rogue(reply, closeAfter);
    SimulatorBus sim(makeSimulatorLink());
    EXPECT_FALSE(SimTransactDirect(sim.bus, Presence5, 1)) << reply.substr(0, 20);
    EXPECT_TRUE(sim.bus.Answer.empty());
  }
}

TEST(SimulatorServerProcess, SurvivesGarbageAndStopsCleanly) {
  SimulatorServer server(Scenario);
  ASSERT_TRUE(server.ready());
  const std::string path = simulatorSocketPath();

  auto connectRaw = [&] {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", path.c_str());
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    timeval timeout{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    return fd;
  };
  auto readReplies = [](int fd, size_t lines) {
    std::string text;
    char chunk[256];
    while (static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) < lines) {
      const ssize_t n = recv(fd, chunk, sizeof(chunk), 0);
      if (n <= 0) break;
      text.append(chunk, static_cast<size_t>(n));
    }
    return text;
  };

  // Each bad line is answered as "nobody answers"; the connection goes on.
  const int fd = connectRaw();
  std::string calls = "Transceiving 5 6 0 1\n";  // too short for a frame
  calls += "Transceiving 5 6 0 1 0 0 221\n";     // bad checksum
  calls += "Transceiving 5 6 x\n";
  calls += "Teleport 5 6 0 1 0 0 220\n";
  calls += "\n";
  calls += std::string("\0\x01\x02\xff\n", 5);
  calls += "Transceiving " + std::string(3 * MaxSimulatorLineBytes, '9') + "\n";
  calls += "Obmen 5 6 0 1 0 0 220\n";
  send(fd, calls.data(), calls.size(), MSG_NOSIGNAL);
  EXPECT_EQ(readReplies(fd, 8), "\n\n\n\n\n\n\n5 5 2 0 0 28\n");

  // A client that vanishes mid-line harms nobody else.
  const int leaving = connectRaw();
  send(leaving, "Transceiving 5 6", 16, MSG_NOSIGNAL);
  close(leaving);
  send(fd, "Transceiving 5 6 0 1 0 0 220\n", 29, MSG_NOSIGNAL);
  EXPECT_EQ(readReplies(fd, 1), "5 5 2 0 0 28\n");
  close(fd);

  LoopsimProcess second(LOOPSIM_BINARY, {"serve"});
  EXPECT_EQ(second.waitExit(), 1) << "a second server on the same socket refuses to start";
  EXPECT_EQ(access(path.c_str(), F_OK), 0) << "and leaves the first one's socket alone";

  EXPECT_NE(makeMarkerService()->openExisting("SIMUL"), nullptr)
      << "the marker that puts sessions into simulator mode";
  EXPECT_EQ(server.process().stop(), 0);
  EXPECT_NE(access(path.c_str(), F_OK), 0) << "socket removed on SIGTERM";
  EXPECT_EQ(makeMarkerService()->openExisting("SIMUL"), nullptr) << "marker released";
}
