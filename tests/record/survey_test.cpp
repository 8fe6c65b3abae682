// The survey as a window runs it: every exchange on the windows' bus thread,
// each next step started from the follow-up of the last on the test's own
// "window" thread, against the simulated bus of a loopsim scenario. A search
// of a list of addresses, the devices of an earlier search, and a stop.

#include <gtest/gtest.h>

#include <set>

#include "fake_platform.h"
#include "loops/coeffs.h"
#include "record/survey.h"
#include "session/bus_runner.h"
#include "session/session.h"
#include "sim/device_model.h"
#include "sim/scenario.h"
#include "window_queue.h"

namespace loopmon {
namespace {

// Type 1 at 9 with an open loop, type 4 at 12, a type without loops at 30.
const char* const Bus =
    "[bus]\ndrift = no\n"
    "[device 9]\ntype = 1\nversion = 160\nloop.2 = 0\n"
    "[device 12]\ntype = 4\nversion = 102\n"
    "[device 30]\ntype = 7\nversion = 100\n";

struct Progress : SurveyObserver {
  void Probing(int index, int count, uint8_t address) override {
    seen.push_back("probe " + std::to_string(index) + "/" + std::to_string(count) + " " +
                   std::to_string(address));
  }
  void Reading(int index, int count, const DeviceRecord& device) override {
    seen.push_back("read " + std::to_string(index) + "/" + std::to_string(count) + " " +
                   std::to_string(device.addr));
  }
  void Message(uint8_t, int, const std::string& text) override { seen.push_back(text); }
  std::vector<std::string> seen;
};

class SurveyOnTheBusThread : public ::testing::Test {
 protected:
  SurveyOnTheBusThread() {
    fake.line->setResponder([this](const Bytes& request) -> std::optional<Bytes> {
      if (silent.count(request[0] & 0x7F) != 0) return std::nullopt;
      return simulated.respond(request);
    });
  }

  // Steps as a window would, the next one from the last one's follow-up; a
  // stop after `stopAfter` steps.
  std::vector<DeviceRecord> run(SurveyPlan plan, int stopAfter = 0) {
    Survey survey(bus, store, progress, std::move(plan));
    bool more = true;
    for (int steps = 1; more; ++steps) {
      bool done = false;
      survey.Step([&](bool next) {
        more = next;
        done = true;
      });
      while (!done) {
        if (!window.runOne()) ADD_FAILURE() << "no follow-up";
      }
      if (steps == stopAfter) survey.Stop();
    }
    EXPECT_TRUE(survey.Finished());
    EXPECT_EQ(survey.Stopped(), stopAfter != 0);
    return survey.Devices();
  }

  std::vector<uint8_t> addresses(const std::vector<DeviceRecord>& devices) const {
    std::vector<uint8_t> found;
    for (const DeviceRecord& device : devices) found.push_back(device.addr);
    return found;
  }

  sim::SimulatedBus simulated{sim::parseScenario(Bus)};
  std::set<int> silent;
  testing::FakePlatform fake;
  TRSSession session{fake.platform()};
  CoefficientsStore store{"/nonexistent-folder/ohmgauge.kft", '.'};
  testing::WindowQueue window;
  BusThread bus{session, [this](std::function<void()> call) { window.post(std::move(call)); }};
  Progress progress;
};

TEST_F(SurveyOnTheBusThread, SearchesReadsBothViewsAndStops) {
  const std::vector<DeviceRecord> devices = run({{9, 12, 30, 50}});
  EXPECT_EQ(progress.seen,
            (std::vector<std::string>{"probe 1/4 9", "probe 2/4 12", "probe 3/4 30", "probe 4/4 50",
                                      "read 1/3 9", "read 2/3 12", "read 3/3 30"}));
  ASSERT_EQ(addresses(devices), (std::vector<uint8_t>{9, 12, 30}));
  EXPECT_EQ(devices[0].name, "Mivra-Q");
  EXPECT_EQ(devices[0].loops.size(), 20u);
  EXPECT_EQ(devices[0].loops[1], (LoopRecord{2, 0, std::nullopt, "Обрыв", "внимание",
                                             LoopCondition::Open, LoopCondition::Normal}));
  EXPECT_TRUE(devices[0].loops[0].kohm && devices[0].loops[0].state == "на охране");
  EXPECT_EQ(devices[1].loops.size(), 4u);
  EXPECT_TRUE(devices[2].loops.empty());

  // The devices of that search: one has fallen silent, 50 is not asked.
  silent = {12};
  progress.seen.clear();
  fake.line->clearCalls();
  EXPECT_EQ(addresses(run({{9, 12, 30, 50}, false})), (std::vector<uint8_t>{9, 30}));
  EXPECT_EQ(progress.seen, (std::vector<std::string>{"probe 1/4 9", "probe 2/4 12", "probe 3/4 30",
                                                     "probe 4/4 50", "read 1/2 9", "read 2/2 30"}));
  for (const std::string& call : fake.line->callTexts()) {
    EXPECT_EQ(call.find(" 32 06 00 01 "), std::string::npos) << "50 was not found before";
  }

  // Stopped while the second device is read: only the first is whole.
  silent.clear();
  EXPECT_EQ(addresses(run({{9, 12}}, 2 + 2 * 20 + 1)), (std::vector<uint8_t>{9}));
}

}  // namespace
}  // namespace loopmon
