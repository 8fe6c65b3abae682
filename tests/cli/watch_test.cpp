// loopctl watch end to end: a real loopsim on a pseudo-terminal, the event
// log as the watch leaves it, and a real Prometheus scraping its figures.
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "loops/coeffs.h"
#include "loopsim_process.h"
#include "platform/store/registry.h"
#include "record/json.h"
#include "scoped_temp_dir.h"
#include "ser2net_process.h"
#include "transport/line_settings.h"

namespace loopmon {
namespace {

using namespace std::chrono_literals;

// Each reading stands twice in a script: a pass reads the loop in both views.
std::string script(const std::vector<std::pair<int, int>>& runs) {
  std::string text = "script";
  for (const auto& [adc, passes] : runs) {
    for (int i = 0; i < 2 * passes; ++i) text += " " + std::to_string(adc);
  }
  return text;
}

std::vector<Json> logLines(const std::string& path, bool lastMayBeCut = false) {
  std::vector<Json> lines;
  std::ifstream file(path);
  std::vector<std::string> texts;
  for (std::string line; std::getline(file, line);) texts.push_back(line);
  for (size_t i = 0; i < texts.size(); ++i) {
    try {
      lines.push_back(ParseJson(texts[i]));
    } catch (const JsonError& error) {
      if (!(lastMayBeCut && i + 1 == texts.size()))
        ADD_FAILURE() << "line " << i + 1 << ": " << error.what();
    }
  }
  return lines;
}

// What an event says without its time, for comparing.
std::string summary(const Json& event) {
  Json kept = event;
  kept.erase("time");
  for (const char* changing :
       {"gap_s", "kohm", "state", "ports", "log", "metrics", "percent", "lines"}) {
    kept.erase(changing);
  }
  return JsonText(kept);
}

uint16_t freePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);
  return ntohs(address.sin_port);
}

class Watch : public ::testing::Test {
 protected:
  void SetUp() override {
    // A copy of its own, so no coefficients file of another test stands beside it.
    std::filesystem::create_directories(folder.file("bin"));
    std::filesystem::copy_file(LOOPCTL_PATH, folder.file("bin/loopctl"));
    std::filesystem::create_directories(folder.file("config/loopmon"));
    auto registry = openRegistryFile(folder.file("config/loopmon/system.reg"));
    registry->createKey(LineSettingsKey);
    // Short read time-outs keep the silent addresses short; an answer still fits.
    registry->write(LineSettingsKey, "TimeoutConstant", RegValue::ofDword(20));
    registry->write(LineSettingsKey, "StartTimeout", RegValue::ofDword(1));
  }

  // A line on the pseudo-terminal tty(), or the simulator server.
  void startLoopsim(const std::string& scenario, bool server = false) {
    std::ofstream(folder.file("bus.ini")) << scenario;
    std::vector<std::string> args{server ? "serve" : "pty", "--scenario", folder.file("bus.ini")};
    if (!server) args.insert(args.end(), {"--link", tty()});
    loopsim = std::make_unique<testing::LoopsimProcess>(LOOPSIM_PATH, args);
    const std::string ready = server ? "loopsim: serving" : "loopsim: linked as";
    for (std::string out = loopsim->readLine(); !out.starts_with(ready);
         out = loopsim->readLine()) {
      ASSERT_FALSE(out.empty()) << "loopsim did not start";
    }
  }

  std::unique_ptr<testing::LoopsimProcess> startWatch(std::vector<std::string> args,
                                                      std::string port = {}) {
    args.insert(args.begin(),
                {"watch", "--port", port.empty() ? tty() : port, "--log", logFolder()});
    return std::make_unique<testing::LoopsimProcess>(folder.file("bin/loopctl"), args);
  }

  // Waits (generously) until the log holds an event named `name`.
  bool awaitEvent(const std::string& name, std::chrono::seconds limit = 120s) {
    for (const auto end = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(100ms)) {
      for (const Json& event : logLines(logFile(), true)) {
        if (event.value("event", "") == name) return true;
      }
    }
    return false;
  }

  // The log of a watch whose line went away once for two seconds or so.
  void expectOneGap() {
    std::vector<std::string> names;
    double gap = 0;
    for (const Json& event : logLines(logFile())) {
      names.push_back(event["event"]);
      if (event["event"] == "line back") gap = event["gap_s"];
    }
    EXPECT_EQ(names, (std::vector<std::string>{"started", "device found", "line lost", "line back",
                                               "stopped"}));
    EXPECT_GE(gap, 1.5);
    EXPECT_LT(gap, 60);
  }

  std::string tty() const { return folder.file("tty"); }
  std::string logFolder() const { return folder.file("log"); }
  std::string logFile() const { return folder.file("log/watch.jsonl"); }

  testing::ScopedTempDir folder;
  testing::ScopedEnv config{"XDG_CONFIG_HOME", folder.file("config")};
  testing::ScopedEnv locale{"LC_ALL", "C"};
  std::unique_ptr<testing::LoopsimProcess> loopsim;
};

// A flapping loop is reported once when it starts and once when it stops, a
// loop that opens and stays open once, a device that leaves and comes back
// twice; nothing else happens on this bus.
TEST_F(Watch, LogsExactlyWhatHappened) {
  startLoopsim("[bus]\ndrift = no\n[device 5]\ntype = 4\nversion = 102\nloop.1 = 100\nloop.2 = " +
               script({{96, 2},
                       {0, 1},
                       {96, 1},
                       {0, 1},
                       {96, 1},
                       {0, 1},
                       {96, 1},
                       {0, 1},
                       {96, 1},
                       {0, 1},
                       {96, 1},
                       {96, 40}}) +
               "\nloop.3 = " + script({{100, 3}, {0, 60}}) +
               "\nloop.4 = 120\n[device 7]\ntype = 4\nversion = 102\naway = 4 9\n");
  auto watch = startWatch({"--addr", "1-8", "--passes", "36", "--site", "depot"});
  ASSERT_EQ(watch->waitExit(), 0);
  std::multiset<std::string> events;
  for (const Json& event : logLines(logFile())) events.insert(summary(event));
  const std::string line = R"("line":")" + tty() + R"(")";
  auto loopEvent = [&](int loop, const std::string& what) {
    return R"({"event":)" + what.substr(0, what.find(',')) + "," + line + R"(,"addr":5,"loop":)" +
           std::to_string(loop) + what.substr(what.find(',')) + "}";
  };
  auto conditionEvent = [&](int loop, const char* from, const char* to, const char* adc) {
    return loopEvent(loop, std::string(R"("condition",)") + R"("from":")" + from + R"(","to":")" +
                               to + R"(","adc":)" + adc);
  };
  std::multiset<std::string> expected{
      R"({"event":"started","site":"depot","addresses":8,"period_s":0.0})",
      R"({"event":"device found",)" + line +
          R"(,"addr":5,"type":4,"name":"Hovra-J","version":1.02,"conditions":["normal","normal","normal","normal"]})",
      R"({"event":"device found",)" + line +
          R"(,"addr":7,"type":4,"name":"Hovra-J","version":1.02,"conditions":["normal","normal","normal","normal"]})",
      conditionEvent(3, "normal", "open", "0"),
      loopEvent(2, R"("flapping started","adc":96)"),
      loopEvent(2, R"("flapping stopped","condition":"normal","adc":96)"),
      R"({"event":"device gone",)" + line + R"(,"addr":7})",
      R"({"event":"device back",)" + line + R"(,"addr":7})",
      R"({"event":"stopped","reason":"passes done"})",
  };
  // The changes before the flapping is recognised are reported one by one.
  for (int change = 0; change < 7; ++change) {
    expected.insert(change % 2 == 0 ? conditionEvent(2, "normal", "open", "0")
                                    : conditionEvent(2, "open", "normal", "96"));
  }
  EXPECT_EQ(events, expected);
}

// The converter unplugged and plugged in again (the pseudo-terminal's
// master closed and made anew): the log names the gap and the watch goes on
// to do all its passes.
TEST_F(Watch, RidesOutAnUnpluggedLine) {
  const std::string bus = "[bus]\ndrift = no\n[device 5]\ntype = 4\n";
  startLoopsim(bus);
  auto watch = startWatch({"--addr", "5", "--passes", "30"});
  ASSERT_TRUE(awaitEvent("device found"));
  loopsim.reset();
  ASSERT_TRUE(awaitEvent("line lost"));
  std::this_thread::sleep_for(2s);
  startLoopsim(bus);
  ASSERT_EQ(watch->waitExit(), 0);
  expectOneGap();
}

// The simulator server gone in the middle of a watch: every port opens, so
// the line is only back once a pass has answers again, and one loss is told
// once, not once a second.
TEST_F(Watch, RidesOutASimulatorRestart) {
  const testing::PrivateRuntimeFolder runtime;
  const std::string bus = "[bus]\ndrift = no\n[device 5]\ntype = 4\n";
  startLoopsim(bus, true);
  auto watch = startWatch({"--addr", "5", "--passes", "30"}, "COM1");
  ASSERT_TRUE(awaitEvent("device found"));
  loopsim.reset();
  ASSERT_TRUE(awaitEvent("line lost"));
  std::this_thread::sleep_for(3s);
  startLoopsim(bus, true);
  ASSERT_EQ(watch->waitExit(), 0);
  expectOneGap();
}

// ser2net, serving the line over the network, stopped and started again in
// the middle of a watch: the same as an unplugged converter.
TEST_F(Watch, RidesOutAServerRestart) {
  if (std::string(SER2NET_PATH).empty()) GTEST_SKIP() << "no ser2net";
  startLoopsim("[bus]\ndrift = no\n[device 5]\ntype = 4\n");
  testing::Ser2netProcess server(SER2NET_PATH, tty());
  ASSERT_TRUE(server.start()) << "ser2net does not serve; scripts/install-deps installs it";
  auto watch = startWatch({"--addr", "5", "--passes", "30"}, server.tcpUrl());
  ASSERT_TRUE(awaitEvent("device found"));
  server.kill();
  ASSERT_TRUE(awaitEvent("line lost"));
  std::this_thread::sleep_for(2s);
  ASSERT_TRUE(server.start());
  ASSERT_EQ(watch->waitExit(), 0);
  expectOneGap();
}

// Killed while it writes: every line but the last is whole, and the next
// watch cuts a broken last line off before it writes its own.
TEST_F(Watch, KilledWhileWritingLeavesWholeLines) {
  startLoopsim("[bus]\ndrift = no\n[device 5]\ntype = 1\nloops = 20\n" + [] {
    std::string loops;
    for (int loop = 1; loop <= 20; ++loop) {
      loops += "loop." + std::to_string(loop) + " = " + script({{96, 3}, {0, 3}}) + "\n";
    }
    return loops;
  }());
  auto watch = startWatch({"--addr", "5"});
  ASSERT_TRUE(awaitEvent("condition"));
  std::this_thread::sleep_for(1500ms);
  watch->kill();
  const std::vector<Json> left = logLines(logFile(), true);
  EXPECT_GT(left.size(), 20u);
  auto again = startWatch({"--addr", "5", "--passes", "1"});
  ASSERT_EQ(again->waitExit(), 0);
  const std::vector<Json> all = logLines(logFile());
  EXPECT_EQ(all.back()["event"], "stopped");
}

// A real Prometheus scrapes the watch every second: its query API gives the
// resistance loopsim's loop has, and the open loop fires the open-loop alert.
// The rules are the shipped ones with their waits cut to two seconds.
TEST_F(Watch, PrometheusScrapesTheFigures) {
  if (std::string(PROMETHEUS_PATH).empty()) GTEST_SKIP() << "no prometheus";
  startLoopsim(
      "[bus]\ndrift = no\n[device 5]\ntype = 4\nversion = 102\nloop.1 = 100\nloop.2 = 0\n");
  const uint16_t metricsPort = freePort();
  auto watch = startWatch(
      {"--addr", "5", "--metrics", "127.0.0.1:" + std::to_string(metricsPort), "--site", "depot"});
  ASSERT_TRUE(awaitEvent("device found"));
  std::ofstream(folder.file("rules.yml"))
      << std::regex_replace(testing::readFile(RULES_PATH), std::regex("for: \\d+m"), "for: 2s");
  std::ofstream(folder.file("prometheus.yml"))
      << "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\nrule_files: [rules.yml]\n"
         "scrape_configs:\n  - job_name: loopmon\n    static_configs:\n      - targets: "
         "[\"127.0.0.1:"
      << metricsPort << "\"]\n";
  const uint16_t webPort = freePort();
  const std::string web = "127.0.0.1:" + std::to_string(webPort);
  testing::LoopsimProcess prometheus(
      PROMETHEUS_PATH, {"--config.file=" + folder.file("prometheus.yml"),
                        "--storage.tsdb.path=" + folder.file("tsdb"), "--web.listen-address=" + web,
                        "--log.level=error"});
  auto query = [&](const std::string& expression) {
    const std::string out = folder.file("answer.json");
    const std::string command = "curl -s -o " + out + " 'http://" + web +
                                "/api/v1/query' --data-urlencode 'query=" + expression + "'";
    if (std::system(command.c_str()) != 0) return Json();
    try {
      return ParseJson(testing::readFile(out))["data"]["result"];
    } catch (const std::exception&) {
      return Json();
    }
  };
  Json value;
  std::string firing;
  for (int tries = 0; tries < 120 && (value.is_null() || firing.empty()); ++tries) {
    std::this_thread::sleep_for(1s);
    const Json result = query(R"(loopmon_loop_resistance_kohm{site="depot",addr="5",loop="1"})");
    if (result.is_array() && !result.empty()) value = result[0]["value"][1];
    const Json alert =
        query(R"(ALERTS{alertname="LoopOpen",alertstate="firing",addr="5",loop="2"})");
    if (alert.is_array() && !alert.empty()) firing = JsonText(alert);
  }
  ASSERT_FALSE(value.is_null()) << "Prometheus never had the loop's resistance";
  const Coefficients built = BuiltInCoefficients(4, 102);
  EXPECT_NEAR(std::stod(value.get<std::string>()), built.a / 100 + built.b, 1e-9);
  EXPECT_NE(firing.find("LoopOpen"), std::string::npos) << "the open-loop alert never fired";
  watch->stop();
}

}  // namespace
}  // namespace loopmon
