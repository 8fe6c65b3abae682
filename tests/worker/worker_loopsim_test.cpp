// The worker against real loopsim processes: as the simulator server (the
// session in simulator mode) and on a pseudo-terminal line (the real serial
// code). A device goes silent and comes back by restarting loopsim with
// another scenario.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "loopsim_process.h"
#include "memory_registry.h"
#include "platform/bus_driver.h"
#include "platform/clock.h"
#include "platform/named_marker.h"
#include "platform/serial_port.h"
#include "platform/simulator_link.h"
#include "scoped_temp_dir.h"
#include "worker_harness.h"

namespace loopmon::testing {
namespace {

using namespace std::chrono_literals;

// loopsim's markers and socket, and the session's, live in a folder of the
// test's own.
class LoopsimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(runtime.path().empty());
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
  }

  std::string scenario(const std::string& name, const std::string& text) {
    const std::string path = runtime.file(name);
    std::ofstream(path) << text;
    return path;
  }

  // Starts loopsim and waits for its first line, which it prints once it
  // serves (or plays on its line).
  std::unique_ptr<LoopsimProcess> start(const std::vector<std::string>& args,
                                        std::string* firstLine = nullptr) {
    auto process = std::make_unique<LoopsimProcess>(LOOPSIM_BINARY, args);
    const std::string line = process->readLine();
    EXPECT_FALSE(line.empty()) << "loopsim did not start";
    if (firstLine) *firstLine = line;
    return process;
  }

  std::unique_ptr<TRSSession> makeSession() {
    Platform platform;
    platform.clock = systemClock();
    platform.registry = std::make_shared<MemoryRegistry>();
    platform.markers = makeMarkerService();
    platform.simulatorLink = makeSimulatorLink();
    platform.makeSerialPort = [] { return makeSerialPort(); };
    platform.makeBusDriver = [] { return makeBusDriver(); };
    auto session = std::make_unique<TRSSession>(platform, owner);
    record.attach(*session, owner.get());
    return session;
  }

  ScopedTempDir runtime;
  std::shared_ptr<OwnerLoop> owner = std::make_shared<OwnerLoop>();
  EventRecord record;
};

const char* const Present =
    "[bus]\ndrift = no\n"
    "[device 5]\ntype = 1\nloops = 4\nloop.1 = 100\nevent = 4 3 1\n";
const char* const Silent = "[bus]\ndrift = no\n[device 5]\ntype = 1\nsilent = yes\n";

TEST_F(LoopsimTest, ServerDeviceThatFallsSilentIsLostOnceAndNewWhenItAnswersAgain) {
  const std::string present = scenario("present.ini", Present);
  const std::string silent = scenario("silent.ini", Silent);
  auto server = start({"serve", "--scenario", present});
  auto session = makeSession();
  ASSERT_TRUE(session->Simulator.enabled);
  // More than 1 * 132 / 15 = 8.8 misses, and 5.184 s of silence.
  session->SetLostThresholds(1, 1);
  ASSERT_TRUE(session->SetPollSchedule({5}));
  // Switched on while the server is away, the worker waits for it.
  server.reset();
  session->SetWork(true);
  std::this_thread::sleep_for(50ms);
  server = start({"serve", "--scenario", present});

  // The pending event proves that polls get through.
  ASSERT_TRUE(record.waitForCount("event", 1));
  const auto silentFrom = std::chrono::steady_clock::now();
  server.reset();
  server = start({"serve", "--scenario", silent});
  ASSERT_TRUE(record.waitForCount("lost", 1));
  EXPECT_GE(std::chrono::steady_clock::now() - silentFrom, 5s);

  server.reset();
  server = start({"serve", "--scenario", present});
  ASSERT_TRUE(record.waitForCount("new", 1));
  session->SetWork(false);
  session.reset();
  EXPECT_EQ(record.named("lost").size(), 1u);
  EXPECT_EQ(record.named("new").size(), 1u);
  EXPECT_EQ(record.named("lost")[0].addr, 5);
}

TEST_F(LoopsimTest, LineEventIsDeliveredAcknowledgedOnceAndDecodedIntoAReading) {
  const std::string present = scenario("present.ini", Present);
  const std::string link = runtime.file("rs485");
  auto line = start({"pty", "--scenario", present, "--link", link});
  auto session = makeSession();
  ASSERT_FALSE(session->Simulator.enabled);
  session->PortPath = link;
  ASSERT_TRUE(session->SetPollSchedule({5}));
  session->SetWork(true);
  ASSERT_TRUE(record.waitForCount("adc", 1));
  // Once acknowledged, the event is gone: further polls are answered plainly.
  std::this_thread::sleep_for(300ms);
  session->SetWork(false);
  const auto events = record.named("event");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].frame[2], 4);
  EXPECT_EQ(events[0].frame[3], 3);
  const auto readings = record.named("adc");
  ASSERT_EQ(readings.size(), 1u);
  EXPECT_EQ(readings[0].loop, 1);
  EXPECT_EQ(readings[0].value, -1);
  EXPECT_EQ(readings[0].frame[4], 100);
}

}  // namespace
}  // namespace loopmon::testing
