// The bus trace against a real loopsim, on its pseudo-terminal line and as the
// simulator server: every outcome that loopsim's answer faults make, the
// counters they add up to, and a scan whose trace is, request for request,
// what loopsim traced on its side.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "loopsim_process.h"
#include "memory_registry.h"
#include "scoped_temp_dir.h"
#include "search_view_fake.h"
#include "session/bus_runner.h"
#include "session/session.h"
#include "traffic/traffic_counters.h"
#include "transport/bus_state.h"

namespace loopmon {
namespace {

using testing::Lines;

// Device 5 plays through its faults, one per answer, then answers from 6.
// The answers come 10 ms after a request, so that a loaded machine's late
// turnaround does not clear an answer away before the line listens.
const char* const ScenarioText = R"([bus]
drift = no
latency-us = 10000
[device 5]
type = 1
version = 105
answers = crc, short, ok, length, echo, ok, late, ok, address
late-us = 30000
[device 20]
type = 4
event = 4 3 2
[device 30]
silent = yes
[device 127]
type = 9
)";

enum class Route { Line, Server };

class TraceOverLoopsim : public ::testing::TestWithParam<Route> {
 protected:
  void SetUp() override {
    std::ofstream(folder.file("bus.ini")) << ScenarioText;
    std::vector<std::string> args{line() ? "pty" : "serve", "--scenario", folder.file("bus.ini"),
                                  "--trace"};
    if (line()) args.insert(args.end(), {"--link", folder.file("tty")});
    loopsim = std::make_unique<testing::LoopsimProcess>(LOOPSIM_PATH, args);
    const std::string ready = line() ? "loopsim: linked as" : "loopsim: serving";
    for (std::string out = loopsim->readLine(); !out.starts_with(ready); out = loopsim->readLine())
      ASSERT_FALSE(out.empty()) << "loopsim did not start";

    Platform platform = Platform::system();
    auto registry = std::make_shared<testing::MemoryRegistry>();
    // Room for the late answer (30 ms) in the presence request's read, and for
    // a loaded machine that delays it further: a read that ends before the
    // answer comes makes retries the table below does not hold.
    registry->set(LineSettingsKey, "TimeoutConstant", RegValue::ofDword(250));
    registry->set(LineSettingsKey, "StartTimeout", RegValue::ofDword(1));
    platform.registry = registry;
    session = std::make_unique<TRSSession>(platform);
    ASSERT_EQ(session->SimulatorMode(), !line());
    session->SetPortPath(folder.file("tty"));
    ring = session->Trace().start();
  }

  bool line() const { return GetParam() == Route::Line; }

  std::vector<TraceRecord> records() {
    std::vector<TraceRecord> read;
    EXPECT_EQ(ring->take(read), 0u);
    return read;
  }

  testing::ScopedTempDir folder;
  testing::PrivateRuntimeFolder runtime;
  testing::ScopedEnv config{"XDG_CONFIG_HOME", folder.path()};
  std::unique_ptr<testing::LoopsimProcess> loopsim;
  std::unique_ptr<TRSSession> session;
  std::shared_ptr<TraceRing> ring;
};

TEST_P(TraceOverLoopsim, EveryAttemptWithItsOutcomeAndTheCountersTheyMake) {
  const Bytes presence5{5, 6, 0, 1, 0, 0};
  for (int request = 0; request < 5; ++request) EXPECT_TRUE(session->DirectRequest(presence5, 1));
  EXPECT_TRUE(session->DirectRequest({20, 6, 0, 1, 0, 0}, 1));
  EXPECT_FALSE(session->DirectRequest({30, 6, 0, 1, 0, 0}, 1));

  struct Attempt {
    uint8_t address;
    uint8_t number;
    TraceOutcome outcome;
  };
  using enum TraceOutcome;
  // The simulator link takes Length + 1 numbers whatever they are: a Length
  // one too small shows as a wrong checksum there.
  std::vector<Attempt> expected{
      {5, 1, BadChecksum},  {5, 2, Short},
      {5, 3, Answer},       {5, 1, line() ? BadLength : BadChecksum},
      {5, 2, Echo},         {5, 3, Answer},
      {5, 1, Answer},       {5, 1, Answer},
      {5, 1, OtherAddress}, {5, 2, BadChecksum},
      {5, 3, Short},        {5, 4, Answer},
      {20, 1, Answer},      {20, 1, Sent},  // the event, then its acknowledgement
  };
  for (uint8_t n = 1; n <= 6; ++n) expected.push_back({30, n, Silence});
  const auto read = records();
  ASSERT_EQ(read.size(), expected.size());
  for (size_t i = 0; i < read.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(read[i].address(), expected[i].address);
    EXPECT_EQ(read[i].attempt, expected[i].number);
    EXPECT_EQ(read[i].attempts, 6);
    EXPECT_EQ(read[i].outcome, expected[i].outcome);
    EXPECT_EQ(read[i].route, line() ? TraceRoute::Serial : TraceRoute::Simulator);
    // Attempts of one request share its number; an acknowledgement its event's.
    const size_t first = read[i].answerAwaited ? i + 1 - read[i].attempt : i - 1;
    EXPECT_EQ(read[i].exchange, read[first].exchange);
  }
  EXPECT_NE(read[3].exchange, read[0].exchange);
  EXPECT_FALSE(read[8].accepted) << "another device's answer is not the one asked for";

  TrafficCounters counters;
  for (const TraceRecord& record : read) counters.add(record);
  const auto& devices = counters.devices();
  ASSERT_EQ(devices.size(), 3u);
  for (const auto& [address, d] : devices) {
    SCOPED_TRACE(int{address});
    EXPECT_EQ(d.attempts, d.answers + d.silences + d.damaged + d.unsent);
    EXPECT_EQ(d.requests, d.attempts - d.retries);
  }
  const DeviceTraffic& five = devices.at(5);
  EXPECT_EQ(std::vector<uint64_t>({five.requests, five.answers, five.damaged, five.retries}),
            std::vector<uint64_t>({5, 5, 7, 7}));
  EXPECT_EQ(devices.at(30).failed, 1u);
  // A loaded machine delays any answer, so the figures are checked against
  // the records' own timings rather than against the scenario's.
  std::vector<double> answerMs;
  for (const TraceRecord& record : read)
    if (record.address() == 5 && record.outcome == TraceOutcome::Answer)
      answerMs.push_back(static_cast<double>(std::max<int64_t>(
                             0, record.lastByteMicros - record.requestEndMicros)) /
                         1000.0);
  std::sort(answerMs.begin(), answerMs.end());
  ASSERT_EQ(answerMs.size(), 5u);
  EXPECT_DOUBLE_EQ(five.worstAnswerMs().value(), answerMs.back());
  if (line()) {
    EXPECT_GT(answerMs.back(), 30.0) << "the late answer";
  }
  EXPECT_NEAR(five.medianAnswerMs().value(), answerMs[2], 0.01)
      << "within the 10 us step it is kept at";
}

// The request's bytes and what came back, as loopsim's trace shows them.
Lines loopsimSide(testing::LoopsimProcess& loopsim) {
  Lines side;
  for (std::string line; !(line = loopsim.readLine(std::chrono::milliseconds(300))).empty();) {
    size_t arrow = line.find("-> ");
    if (arrow == std::string::npos) arrow = line.find("<- ");
    if (arrow == std::string::npos) continue;
    side.push_back(line.substr(arrow, line.find(" |", arrow) - arrow));
  }
  return side;
}

TEST_P(TraceOverLoopsim, AScanTracedAsLoopsimSawIt) {
  testing::RecordingSearchView view;
  InlineBus bus(*session);
  SearchProcedure search(view, &bus);
  for (uint8_t address : {127, 5, 6, 20, 30}) search.IdentifyAddress(address);
  EXPECT_EQ(view.lines.size(), 3u);

  Lines traced;
  for (const TraceRecord& record : records()) {
    traced.push_back("-> " + frameHex(record.requestBytes()));
    const bool nothing =
        record.outcome == TraceOutcome::Silence || record.outcome == TraceOutcome::Sent;
    traced.push_back("<- " + (nothing ? "(no answer)" : frameHex(record.answerBytes())));
  }
  EXPECT_EQ(traced, loopsimSide(*loopsim));
}

INSTANTIATE_TEST_SUITE_P(Routes, TraceOverLoopsim, ::testing::Values(Route::Line, Route::Server),
                         [](const auto& instance) {
                           return instance.param == Route::Line ? "Pty" : "SimulatorServer";
                         });

}  // namespace
}  // namespace loopmon
