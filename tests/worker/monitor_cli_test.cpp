// loopctl monitor as a user runs it: against loopsim on a pseudo-terminal,
// ended by --duration or by a signal.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "loopsim_process.h"
#include "scoped_temp_dir.h"

namespace loopmon::testing {
namespace {

class MonitorCli : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(runtime.path().empty());
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    // The line settings go to a registry file of the test's own.
    setenv("XDG_CONFIG_HOME", runtime.path().c_str(), 1);
    const std::string scenario = runtime.file("bus.ini");
    std::ofstream(scenario) << "[bus]\ndrift = no\n"
                               "[device 5]\ntype = 1\nloops = 4\nloop.1 = 100\nevent = 4 3 1\n"
                               "[device 9]\ntype = 9\nline.1 = 3\n";
    line = std::make_unique<LoopsimProcess>(
        LOOPSIM_BINARY, std::vector<std::string>{"pty", "--scenario", scenario, "--link", link});
    ASSERT_FALSE(line->readLine().empty());
  }

  // Lines of output until the program ends or `count` lines have come.
  static std::vector<std::string> lines(LoopsimProcess& monitor, size_t count = 1000) {
    std::vector<std::string> seen;
    while (seen.size() < count) {
      std::string next = monitor.readLine();
      if (next.empty()) break;
      seen.push_back(std::move(next));
    }
    return seen;
  }

  static bool anyContains(const std::vector<std::string>& lines, const std::string& part) {
    for (const std::string& line : lines) {
      if (line.find(part) != std::string::npos) return true;
    }
    return false;
  }

  ScopedTempDir runtime;
  std::string link = runtime.file("rs485");
  std::unique_ptr<LoopsimProcess> line;
};

TEST_F(MonitorCli, PrintsEventsKindsAndReadingsAsJsonLinesUntilTheDuration) {
  LoopsimProcess monitor(LOOPCTL_BINARY,
                         {"monitor", "--port", link, "--poll", "5,9", "--subscribe", "5:1,9:1",
                          "--adc-period", "50", "--duration", "2", "--json"});
  const auto seen = lines(monitor);
  EXPECT_EQ(monitor.waitExit(), 0);
  EXPECT_TRUE(anyContains(seen,
                          "\"event\":\"event\",\"addr\":5,\"loop\":1,\"reading\":null,"
                          "\"class\":null,\"frame\":\"05 05 04 03 01"));
  // The event asks for a reading of its loop (class -1), the subscription
  // for the first reading of the loop's kind.
  EXPECT_TRUE(
      anyContains(seen, "\"event\":\"adc\",\"addr\":5,\"loop\":1,\"reading\":100,\"class\":-1"));
  EXPECT_TRUE(
      anyContains(seen, "\"event\":\"kind\",\"addr\":5,\"loop\":1,\"reading\":null,\"class\":2"));
  // Device 9 was identified first: its line device of kind 3 gives kind 1.
  EXPECT_TRUE(
      anyContains(seen, "\"event\":\"kind\",\"addr\":9,\"loop\":1,\"reading\":null,\"class\":1"));
  EXPECT_TRUE(anyContains(seen, "\"event\":\"adc\",\"addr\":9,\"loop\":1"));
}

TEST_F(MonitorCli, StopsCleanlyOnSigtermAndRejectsBadLists) {
  LoopsimProcess monitor(LOOPCTL_BINARY, {"monitor", "--port", link, "--poll", "5"});
  const auto first = lines(monitor, 1);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_NE(first[0].find("\tevent\t5\t1\t-\t-\t05 05 04 03 01"), std::string::npos) << first[0];
  EXPECT_EQ(monitor.stop(), 0);

  LoopsimProcess bad(LOOPCTL_BINARY,
                     {"monitor", "--port", link, "--poll", "5", "--subscribe", "5"});
  EXPECT_NE(bad.waitExit(), 0);
}

}  // namespace
}  // namespace loopmon::testing
