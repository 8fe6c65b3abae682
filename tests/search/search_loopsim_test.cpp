// The search against a real loopsim: on a pseudo-terminal through the real
// serial code, and as the simulator server through the "SIMUL" marker. The
// order of the probes is read from loopsim's own trace of the requests.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <utility>

#include "loopsim_process.h"
#include "memory_registry.h"
#include "scoped_temp_dir.h"
#include "search/quick_search.h"
#include "search_view_fake.h"
#include "session/bus_runner.h"
#include "session/session.h"

namespace loopmon {
namespace {

using testing::Lines;
using testing::LoopsimProcess;
using testing::RecordingSearchView;
using Probe = std::pair<int, int>;  // address, command

// 127, 2 and 6 identify themselves; 3 answers presence only; 4 refuses the
// identification with code 10; 45 lies beyond the stop.
const char* const ScenarioText = R"([bus]
drift = no
[device 127]
type = 9
version = 101
[device 2]
type = 1
version = 105
[device 3]
type = 2
ignore = 13
[device 4]
type = 4
refuse-identify = yes
[device 6]
type = 11
version = 160
[device 45]
type = 1
)";

enum class Route { Line, Server };

class SearchOverLoopsim : public ::testing::TestWithParam<Route> {
 protected:
  void SetUp() override { startLoopsim(ScenarioText); }

  void startLoopsim(const std::string& scenario) {
    std::ofstream(folder.file("bus.ini")) << scenario;
    loopsim.reset();
    const bool line = GetParam() == Route::Line;
    std::vector<std::string> args{line ? "pty" : "serve", "--scenario", folder.file("bus.ini"),
                                  "--trace"};
    if (line) args.insert(args.end(), {"--link", folder.file("tty")});
    loopsim = std::make_unique<LoopsimProcess>(LOOPSIM_PATH, args);
    const std::string ready = line ? "loopsim: linked as" : "loopsim: serving";
    for (std::string out = loopsim->readLine(); !out.starts_with(ready); out = loopsim->readLine())
      ASSERT_FALSE(out.empty()) << "loopsim did not start";
  }

  // Short read time-outs keep the silent addresses quick; they still leave
  // room for an answer at 9600 baud.
  std::unique_ptr<TRSSession> openSession() {
    Platform platform = Platform::system();
    auto registry = std::make_shared<testing::MemoryRegistry>();
    registry->set(LineSettingsKey, "TimeoutConstant", RegValue::ofDword(20));
    registry->set(LineSettingsKey, "StartTimeout", RegValue::ofDword(1));
    platform.registry = registry;
    auto session = std::make_unique<TRSSession>(platform);
    EXPECT_EQ(session->SimulatorMode(), GetParam() == Route::Server);
    session->SetPortPath(folder.file("tty"));
    return session;
  }

  // The requests loopsim has traced since the last call, repeats folded.
  std::vector<Probe> takeProbes() {
    static const std::regex request("-> .*addr (\\d+) cmd 0x([0-9A-Fa-f]{2})");
    std::vector<Probe> probes;
    for (std::string line; !(line = loopsim->readLine(std::chrono::milliseconds(50))).empty();) {
      std::smatch match;
      if (!std::regex_search(line, match, request)) continue;
      const Probe probe{std::stoi(match[1]), std::stoi(match[2], nullptr, 16)};
      if (probes.empty() || probes.back() != probe) probes.push_back(probe);
    }
    return probes;
  }

  // Starts a scan, lets it run up to `lastAddress`, then presses Stop.
  std::vector<Probe> scanUpTo(SearchProcedure& search, int lastAddress) {
    search.StartStopScan();
    while (search.ScanAddress <= lastAddress) search.ScanStep();
    search.StartStopScan();
    return takeProbes();
  }

  testing::ScopedTempDir folder;
  testing::PrivateRuntimeFolder runtime;
  testing::ScopedEnv config{"XDG_CONFIG_HOME", folder.path()};
  std::unique_ptr<LoopsimProcess> loopsim;
  RecordingSearchView view;
};

TEST_P(SearchOverLoopsim, ScanOrderIdentificationStopAfter40AndASecondScan) {
  auto session = openSession();
  InlineBus bus(*session);
  SearchProcedure search(view, &bus);
  const std::vector<Probe> probes = scanUpTo(search, 40);

  std::vector<Probe> expected{{127, 1}, {127, 13}};
  for (int address = 1; address <= 40; ++address) {
    expected.emplace_back(address, 1);
    if ((address >= 2 && address <= 4) || address == 6) expected.emplace_back(address, 13);
  }
  EXPECT_EQ(probes, expected);
  view.expectIdle();
  EXPECT_EQ(view.lines, (Lines{session->DescribeDevice(127), session->DescribeDevice(2),
                               session->DescribeDevice(6)}));
  EXPECT_EQ(session->GetDeviceType(6), 11);
  EXPECT_EQ(session->DeviceVersion(6), 160);
  for (int address : {3, 4, 45}) EXPECT_EQ(session->GetDeviceType(address), NoDevice);

  search.CheckKnownDevices();
  EXPECT_EQ(takeProbes(), (std::vector<Probe>{{127, 1}, {2, 1}, {6, 1}}));
  EXPECT_EQ(view.lines.size(), 3u);

  // 6 is gone: a second scan clears what the first one found.
  std::string withoutSix = ScenarioText;
  withoutSix.erase(withoutSix.find("[device 6]"),
                   std::strlen("[device 6]\ntype = 11\nversion = 160\n"));
  startLoopsim(withoutSix);
  scanUpTo(search, 8);
  EXPECT_EQ(view.lines, (Lines{session->DescribeDevice(127), session->DescribeDevice(2)}));
  EXPECT_EQ(session->GetDeviceType(6), NoDevice);
  EXPECT_EQ(session->DeviceVersion(6), 0);
}

// The quick search beside the full one on buses that make a short wait hard:
// slow devices beside quick ones, devices that miss requests, damaged answers.
// It finds what the full search finds, and nothing else.
TEST_P(SearchOverLoopsim, QuickSearchFindsWhatTheFullSearchFinds) {
  const struct {
    const char* bus;
    std::set<int> addresses;
  } buses[] = {
      {"[device 2]\nlatency-us = 1000\n[device 3]\nlatency-us = 10000\n"
       "[device 4]\nlatency-us = 20000\n[device 5]\nlatency-us = 1000\n"
       "[device 8]\nlatency-us = 20000\n",
       {1, 2, 3, 4, 5, 6, 7, 8, 127}},
      {"[device 2]\ndeaf-first = 1\n[device 3]\nanswers = none, none, ok\n"
       "[device 127]\ntype = 9\nanswers = none, none, ok\n",
       {1, 2, 3, 4, 127}},
      {"[device 1]\nanswers = crc, ok\n[device 2]\nanswers = short, none, ok\n"
       "[device 3]\nanswers = ok, length, ok\n[device 4]\nanswers = none, other-address, ok\n",
       {1, 2, 3, 4, 5, 6}},
  };
  using Found = std::map<int, std::pair<uint16_t, uint8_t>>;
  const auto found = [](TRSSession& session, const std::set<int>& addresses) {
    Found devices;
    for (const int address : addresses) {
      const auto a = static_cast<uint8_t>(address);
      if (session.GetDeviceType(a) != NoDevice)
        devices[address] = {session.GetDeviceType(a), session.DeviceVersion(a)};
    }
    return devices;
  };
  // A wait with room to spare on a loaded machine: the quick search's own
  // waits are sized from the answers, whatever this allows.
  Platform platform = Platform::system();
  auto registry = std::make_shared<testing::MemoryRegistry>();
  registry->set(LineSettingsKey, "TimeoutConstant", RegValue::ofDword(60));
  platform.registry = registry;
  for (const auto& [bus, addresses] : buses) {
    const std::vector<uint8_t> order = ScanOrder(addresses);
    startLoopsim(std::string("[bus]\ndrift = no\n") + bus);
    TRSSession full(platform);
    full.SetPortPath(folder.file("tty"));
    for (const uint8_t address : order) IdentifyOnBus(full, address);
    const Found expected = found(full, addresses);

    // A loaded machine can hold an answer back past every short wait, so the
    // quick search gets three runs to find them all; a fault of its own
    // misses in every run. None may list a device the full search did not.
    Found quickFound;
    for (int run = 0; run < 3 && quickFound != expected; ++run) {
      startLoopsim(std::string("[bus]\ndrift = no\n") + bus);
      TRSSession session(platform);
      session.SetPortPath(folder.file("tty"));
      QuickScan quick(order);
      std::vector<std::string> lines;
      while (!quick.Done()) {
        const std::string line = quick.Step(session);
        if (!line.empty()) lines.push_back(line);
      }
      quickFound = found(session, addresses);
      for (const auto& device : quickFound) EXPECT_TRUE(expected.count(device.first)) << bus;
      EXPECT_EQ(lines.size(), quickFound.size()) << bus;
    }
    EXPECT_EQ(quickFound, expected) << bus;
    EXPECT_GE(expected.size(), 3u) << bus;
  }
}

INSTANTIATE_TEST_SUITE_P(Routes, SearchOverLoopsim, ::testing::Values(Route::Line, Route::Server),
                         [](const auto& instance) {
                           return instance.param == Route::Line ? "Pty" : "SimulatorServer";
                         });

}  // namespace
}  // namespace loopmon
