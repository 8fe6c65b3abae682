// The worker and loopctl monitor against real loopsim processes, which keep
// their markers and socket in a runtime folder of the test's own.

#include <gtest/gtest.h>

#include <fstream>

#include "loopsim_process.h"
#include "scoped_temp_dir.h"
#include "worker_harness.h"

namespace loopmon::testing {
namespace {

using namespace std::chrono_literals;

class Loopsim : public ::testing::Test {
 protected:
  std::unique_ptr<LoopsimProcess> start(const char* program, std::vector<std::string> args,
                                        const std::string& scenario) {
    std::ofstream(runtime.file("bus.ini")) << scenario;
    args.insert(args.begin() + 1, {"--scenario", runtime.file("bus.ini")});
    auto process = std::make_unique<LoopsimProcess>(program, args);
    EXPECT_FALSE(process->readLine().empty()) << "loopsim did not start";
    return process;
  }

  ScopedTempDir runtime;
  ScopedEnv runtimeEnv{"XDG_RUNTIME_DIR", runtime.path()};
  ScopedEnv configEnv{"XDG_CONFIG_HOME", runtime.path()};
};

const char* const Present = "[bus]\ndrift = no\n[device 5]\ntype = 1\nevent = 4 3 1\n";

TEST_F(Loopsim, ServerDeviceThatFallsSilentIsLostOnceAndNewWhenItAnswersAgain) {
  auto server = start(LOOPSIM_BINARY, {"serve"}, Present);
  auto owner = std::make_shared<OwnerLoop>();
  EventRecord record;
  auto session = std::make_unique<TRSSession>(Platform::system(), owner);
  record.attach(*session, owner.get());
  ASSERT_TRUE(session->SimulatorMode());
  const auto seen = [&](const char* name) {
    return eventually([&] { return !record.named(name).empty(); });
  };
  // More than 1 * 132 / 15 = 8.8 misses, and 5.184 s of silence.
  session->SetLostThresholds(1, 1);
  ASSERT_TRUE(session->SetPollSchedule({5}));
  // Switched on while the server is away, the worker waits for it.
  server.reset();
  session->SetWork(true);
  std::this_thread::sleep_for(50ms);
  server = start(LOOPSIM_BINARY, {"serve"}, Present);
  // The pending event proves that polls get through.
  ASSERT_TRUE(seen("event"));

  const auto silentFrom = std::chrono::steady_clock::now();
  server.reset();
  server = start(LOOPSIM_BINARY, {"serve"}, "[device 5]\ntype = 1\nsilent = yes\n");
  ASSERT_TRUE(seen("lost"));
  EXPECT_GE(std::chrono::steady_clock::now() - silentFrom, 5s);
  server.reset();
  server = start(LOOPSIM_BINARY, {"serve"}, Present);
  ASSERT_TRUE(seen("new"));
  session.reset();
  EXPECT_EQ(record.named("lost").size(), 1u);
  EXPECT_EQ(record.named("new").size(), 1u);
}

TEST_F(Loopsim, MonitorPrintsEventsKindsAndReadingsAsJsonLinesUntilTheDuration) {
  const std::string link = runtime.file("rs485");
  auto line =
      start(LOOPSIM_BINARY, {"pty", "--link", link},
            std::string(Present) + "loops = 4\nloop.1 = 100\n[device 9]\ntype = 9\nline.1 = 3\n");
  LoopsimProcess monitor(LOOPCTL_BINARY,
                         {"monitor", "--port", link, "--poll", "5,9", "--subscribe", "5:1,9:1",
                          "--adc-period", "50", "--duration", "6", "--json"});
  std::string output;
  for (std::string next; !(next = monitor.readLine()).empty();) output += next + "\n";
  EXPECT_EQ(monitor.waitExit(), 0);
  for (const char* expected : {
           "\"event\":\"event\",\"addr\":5,\"loop\":1,\"reading\":null,\"class\":null,"
           "\"frame\":\"05 05 04 03 01",
           // The event asks for a reading of its loop (class -1), the
           // subscription for the first reading of the loop's kind.
           "\"event\":\"adc\",\"addr\":5,\"loop\":1,\"reading\":100,\"class\":-1",
           "\"event\":\"kind\",\"addr\":5,\"loop\":1,\"reading\":null,\"class\":2",
           // Device 9 was identified first: its line device of kind 3 gives kind 1.
           "\"event\":\"kind\",\"addr\":9,\"loop\":1,\"reading\":null,\"class\":1",
           "\"event\":\"adc\",\"addr\":9,\"loop\":1",
       }) {
    EXPECT_NE(output.find(expected), std::string::npos) << expected << "\n" << output;
  }
}

}  // namespace
}  // namespace loopmon::testing
