// The watch's parts without a bus: flapping, the appending writer, the log's
// rotation within its bound, and the metrics' address and replies.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/store/append_file.h"
#include "record/json.h"
#include "scoped_temp_dir.h"
#include "watch/event_log.h"
#include "watch/flapping.h"
#include "watch/metrics_server.h"
#include "watch/watch_state.h"

namespace loopmon {
namespace {

// A reading per character: '.' the same condition as before, 'x' a change.
// The turns as "+N" (started) and "-N" (stopped) at the N-th reading.
std::string turns(const std::string& readings) {
  FlapDetector detector;
  std::string seen;
  for (size_t i = 0; i < readings.size(); ++i) {
    const auto turn = detector.add(readings[i] == 'x');
    if (turn != FlapDetector::Turn::None) {
      seen += (turn == FlapDetector::Turn::Started ? "+" : "-") + std::to_string(i + 1) + " ";
    }
  }
  return seen;
}

TEST(Flapping, StartsAndStopsWithHysteresis) {
  const std::string steady(40, '.');
  const struct {
    const char* name;
    std::string readings;
    std::string expected;
  } cases[] = {
      {"steady", steady, ""},
      // Eight changes among the last 21 readings are 40 %.
      {"alternating", std::string("xxxxxxxxxx"), "+8 "},
      {"rare changes", std::string("..x..x..x..x..x..x..x..x..x..x"), ""},
      // Then it stays flapping until two changes at most are left in the window.
      {"calms down", "xxxxxxxx" + steady, "+8 -26 "},
      {"between the thresholds", "xxxxxxxx" + std::string("....x....x....x....x....x"), "+8 "},
  };
  for (const auto& c : cases) EXPECT_EQ(turns(c.readings), c.expected) << c.name;
}

TEST(AppendFile, CutsOffALastLineLeftIncomplete) {
  const struct {
    std::string before;
    std::string after;
  } cases[] = {
      {"", "new\n"},
      {"a\nb\n", "a\nb\nnew\n"},
      {"a\nb\n{\"cut", "a\nb\nnew\n"},
      {"no line end", "new\n"},
      {std::string(5000, 'x') + "\n" + std::string(9000, 'y'), std::string(5000, 'x') + "\nnew\n"},
  };
  testing::ScopedTempDir folder;
  for (const auto& c : cases) {
    const std::string path = folder.file("log");
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.before;
    {
      AppendFile file(path);
      file.appendLine("new");
      EXPECT_EQ(file.size(), c.after.size());
    }
    EXPECT_EQ(testing::readFile(path), c.after);
  }
}

TEST(EventLog, RotatesWithinItsBound) {
  testing::ScopedTempDir folder;
  const LogBound bound{4000, 4};
  {
    EventLog log(folder.path(), bound);
    for (int event = 1; event <= 300; ++event) log.write({{"event", "condition"}, {"n", event}});
  }
  uintmax_t total = 0;
  std::vector<int> order;
  for (int index = bound.files - 1; index >= 0; --index) {
    const std::string path = folder.file(EventLog::fileName(index));
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
    total += std::filesystem::file_size(path);
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) order.push_back(ParseJson(line)["n"]);
  }
  EXPECT_FALSE(std::filesystem::exists(folder.file(EventLog::fileName(bound.files))));
  EXPECT_LE(total, bound.totalBytes);
  // The newest events are kept, oldest first across the files, none twice.
  ASSERT_FALSE(order.empty());
  EXPECT_EQ(order.back(), 300);
  for (size_t i = 1; i < order.size(); ++i) EXPECT_EQ(order[i], order[i - 1] + 1);
}

TEST(Metrics, Addresses) {
  const struct {
    const char* text;
    const char* host;
    uint16_t port;
  } cases[] = {
      {"9450", "127.0.0.1", 9450},
      {":9450", "127.0.0.1", 9450},
      {"0.0.0.0:80", "0.0.0.0", 80},
      {"[::1]:9450", "::1", 9450},
      {"box.local:65535", "box.local", 65535},
  };
  for (const auto& c : cases) {
    const MetricsAddress address = ParseMetricsAddress(c.text);
    EXPECT_EQ(address.host, c.host) << c.text;
    EXPECT_EQ(address.port, c.port) << c.text;
  }
  for (const char* bad : {"", "host:", "host:0", "host:65536", "host:9x", "127.0.0.1"}) {
    EXPECT_THROW(ParseMetricsAddress(bad), std::invalid_argument) << bad;
  }
}

TEST(Metrics, Replies) {
  WatchState state("depot \"north\"\\1");
  state.setLoop("/dev/ttyUSB0", 5, 1, {2.5, 100, LoopCondition::Normal, 3, false});
  state.setLoop("/dev/ttyUSB0", 5, 2, {std::nullopt, 0, LoopCondition::Open, 1, true});
  const struct {
    const char* request;
    const char* status;
  } cases[] = {
      {"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 200 OK\r\n"},
      {"GET /metrics?x=1 HTTP/1.0\r\n\r\n", "HTTP/1.1 200 OK\r\n"},
      {"GET / HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found\r\n"},
      {"POST /metrics HTTP/1.1\r\n\r\n", "HTTP/1.1 405 Method Not Allowed\r\n"},
      {"", "HTTP/1.1 405 Method Not Allowed\r\n"},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(MetricsReply(c.request, state).starts_with(c.status)) << c.request;
  }
  const std::string body = state.openMetrics();
  const std::string loop1 = R"({site="depot \"north\"\\1",line="/dev/ttyUSB0",addr="5",loop="1"})";
  const std::string loop2 = R"({site="depot \"north\"\\1",line="/dev/ttyUSB0",addr="5",loop="2"})";
  for (const std::string& sample :
       {"loopmon_loop_resistance_kohm" + loop1 + " 2.5\n", "loopmon_loop_adc" + loop2 + " 0\n",
        "loopmon_loop_condition_changes_total" + loop1 + " 3\n",
        "loopmon_loop_flapping" + loop2 + " 1\n"}) {
    EXPECT_NE(body.find(sample), std::string::npos) << sample;
  }
  // An open loop has no resistance to show.
  EXPECT_EQ(body.find("loopmon_loop_resistance_kohm" + loop2), std::string::npos);
  EXPECT_TRUE(body.ends_with("# EOF\n"));
}

}  // namespace
}  // namespace loopmon
