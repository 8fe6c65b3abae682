// The worker against devices on the fake serial line: false devices, event
// answers and loop subscriptions; then stopping, reconfiguring and destroying
// a session whose worker runs, from other threads and from its own handlers.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "fake_platform.h"
#include "platform/store/registry.h"
#include "worker_harness.h"

namespace loopmon::testing {
namespace {

using namespace std::chrono_literals;

constexpr uint8_t Presence = 0x01;
constexpr uint8_t LoopAdc = 0x1B;
constexpr uint8_t LineDevice = 0x39;
const Bytes Identify{5, 6, 0, 0x0D, 0, 0};

class WorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    devices.attach(*fake.line);
    record.attach(*session, owner.get());
  }

  // Lets the worker run until `done`, then switches it off so the test may
  // look at the session's fields.
  bool runUntil(const std::function<bool()>& done) {
    session->SetWork(true);
    const bool reached = eventually([&] {
      fake.line->clearCalls();
      return done();
    });
    session->SetWork(false);
    // A hand-over under way when the worker went off the bus still reaches
    // the owner within moments.
    std::this_thread::sleep_for(5ms);
    owner->invokeSync([] {});
    return reached;
  }
  bool readsAfter(size_t more) {
    const size_t from = devices.count(LoopAdc);
    return runUntil([&] { return devices.count(LoopAdc) >= from + more; });
  }
  // Waits until the line has heard `more` further polls.
  bool morePolls(size_t more) {
    const size_t target = devices.count(Presence) + more;
    return eventually([&] {
      fake.line->clearCalls();
      return devices.count(Presence) >= target;
    });
  }
  size_t heard() const { return devices.requests().size(); }
  // Replaces the session; only one may hold the bus at a time.
  void remake(std::shared_ptr<OwnerLoop> by) {
    session.reset();
    session = std::make_unique<TRSSession>(fake.platform(), std::move(by));
  }

  FakePlatform fake;
  FakeDevices devices;
  EventRecord record;
  std::shared_ptr<OwnerLoop> owner = std::make_shared<OwnerLoop>();
  std::unique_ptr<TRSSession> session = std::make_unique<TRSSession>(fake.platform(), owner);
};

TEST_F(WorkerTest, FalseDeviceClearsItsKeyEntersLostSetAndIsReportedToSubscriptions) {
  devices.set(6, {.pollCode = 7});
  ASSERT_TRUE(session->SetPollSchedule({6}));
  session->SubscribeLoop(6, 1, {0xAB});
  ASSERT_TRUE(
      runUntil([&] { return !record.named("false").empty() && !record.named("adc").empty(); }));
  EXPECT_EQ(CoreOf(*session).KeyWord[6], 0);
  EXPECT_TRUE(CoreOf(*session).LostSet.test(6));
  const SeenEvent report = record.named("adc")[0];
  EXPECT_EQ(report.value, -3);
  EXPECT_TRUE(report.frame.empty());
  EXPECT_EQ(report.data, Bytes{0xAB});
}

TEST_F(WorkerTest, EventAnswersAreDeliveredAcknowledgedAndDecodedIntoReadings) {
  devices.set(5, {.pollCode = 4,
                  .pollEvents = {{3, 2}, {117, 3}, {24, 4}},
                  .adc = {{2, 90}, {3, 91}, {4, 92}}});
  devices.set(7, {.pollCode = 12});
  ASSERT_TRUE(session->SetPollSchedule({5, 7}));

  ASSERT_TRUE(runUntil([&] { return record.named("event").size() >= 6; }));
  const auto events = record.named("event");
  EXPECT_EQ(events[0].frame, answerFrame(5, 4, 3, 2));
  for (const SeenEvent& event : events) EXPECT_TRUE(event.onOwnerThread);
  const auto acks = devices.requests(0x03);
  EXPECT_GE(std::count_if(acks.begin(), acks.end(), [](const Bytes& r) { return r[0] == 5; }), 3);

  // Class -1 for event 3 in a code-4 frame, -4 for event 24 from a poll; event
  // 117 asks for a reading of subscribed loops only; code 12 carries none.
  const auto readings = record.named("adc");
  ASSERT_EQ(readings.size(), 2u);
  EXPECT_EQ(readings[0].loop, 2);
  EXPECT_EQ(readings[0].value, -1);
  EXPECT_EQ(readings[0].frame, answerFrame(5, 0x1C, 2, 90));
  EXPECT_EQ(readings[1].loop, 4);
  EXPECT_EQ(readings[1].value, -4);
  EXPECT_EQ(devices.count(LoopAdc), 2u);
}

TEST_F(WorkerTest, SubscriptionReportsTheFirstReadingAndThenOnlyMovesOfMoreThanOne) {
  devices.set(5, {.adc = {{1, 100}}});
  session->SetAdcPeriod(1);
  session->SubscribeLoop(5, 1, {1, 2, 3});
  ASSERT_TRUE(runUntil([&] { return record.named("adc").size() >= 1; }));
  // Not searched, so the type is the table's 128: command 0x1B, kind 2.
  auto reports = record.named("adc");
  EXPECT_EQ(reports[0].frame, answerFrame(5, 0x1C, 1, 100));
  EXPECT_EQ(reports[0].value, 2);
  EXPECT_EQ(reports[0].extra, LoopAdc);
  EXPECT_EQ(reports[0].data, (Bytes{1, 2, 3}));

  for (uint8_t adc : {101, 99}) {
    devices.change(5, [adc](FakeDevice& d) { d.adc[1] = adc; });
    ASSERT_TRUE(readsAfter(3));
  }
  EXPECT_EQ(record.named("adc").size(), 1u);
  // A move of 2 is reported and becomes the reference.
  for (uint8_t adc : {102, 101}) {
    devices.change(5, [adc](FakeDevice& d) { d.adc[1] = adc; });
    ASSERT_TRUE(readsAfter(3));
  }
  reports = record.named("adc");
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[1].frame[4], 102);
  // Unchanged for 20 minutes: reported again.
  fake.clock->advanceMs(20 * 60 * 1000);
  ASSERT_TRUE(readsAfter(1));
  ASSERT_EQ(record.named("adc").size(), 3u);
}

TEST_F(WorkerTest, LineDeviceRefusalsRemoveALoopAndAnUnreadableKindTheDevice) {
  devices.set(
      7,
      {.type = 9, .adc = {{1, 60}, {2, 61}}, .lineKinds = {{1, 2}, {2, 3}}, .refusedLoops = {2}});
  devices.set(8, {.type = 9, .lineKinds = {{1, 1}}});
  session->SetDeviceType(7, 9);
  session->SetDeviceType(8, 9);
  session->SetAdcPeriod(1);
  for (auto [addr, loop] : {std::pair<uint8_t, uint8_t>{7, 1}, {7, 2}, {8, 1}}) {
    session->SubscribeLoop(addr, loop);
  }
  ASSERT_TRUE(runUntil([&] {
    const auto reports = record.named("adc");
    return devices.count(LineDevice) > 20 &&
           std::any_of(reports.begin(), reports.end(),
                       [&](const SeenEvent& e) { return e.addr == 7 && e.value == 2; });
  }));
  const auto& set = CoreOf(*session).DeviceSet.Devices;
  ASSERT_EQ(set.size(), 1u);
  EXPECT_EQ(set[0].Addr, 7);
  ASSERT_EQ(set[0].Loops.size(), 1u);
  EXPECT_EQ(set[0].Loops[0].NumShl, 1);
  EXPECT_EQ(set[0].Loops[0].Cmd, LineDevice);
  const auto kinds = record.named("kind");
  EXPECT_TRUE(std::any_of(kinds.begin(), kinds.end(), [](const SeenEvent& e) {
    return e.addr == 7 && e.loop == 2 && e.value == 1;
  }));
}

// A silent device is lost at the first poll past both limits: more than
// weight × 44 / divisor × DeviceTimeout misses and DeviceTimeout × 1.1232 s of
// silence on the bus, weight × 132 / divisor misses and 5.184 s with the
// simulator. Each limit is met in turn with the other long passed. While the
// misses are counted, another address answers each poll on the bus, which
// counts as silence.
TEST_F(WorkerTest, SilentDeviceIsLostAtTheFirstPollPastBothLimits) {
  struct Limits {
    bool simulator;
    int32_t deviceTimeout;
    uint8_t weight;
    int32_t divisor;
    int32_t lostAtMiss;
    double silenceSeconds;
  };
  const Limits cases[] = {
      {false, 10, 128, 15, 3755, 11.232},  // as constructed
      {false, 10, 15, 15, 441, 11.232},    // a limit of exactly 440
      {false, 1, 128, 0, 376, 1.1232},     // divisor 0 counts as 15
      {true, 10, 128, 15, 1127, 5.184},   {true, 1, 15, 15, 133, 5.184},
  };
  constexpr uint8_t Silent = 9;
  // Fake times of the last two polls: every cycle lasts the same.
  std::mutex pollLock;
  int64_t polledAt[2] = {};
  const auto polled = [&] {
    std::lock_guard lock(pollLock);
    polledAt[0] = std::exchange(polledAt[1], fake.clock->nowMicros());
  };
  struct SilentSimulator : SimulatorLink, SimulatorObject {
    explicit SilentSimulator(std::function<void()> onCall) : heard(std::move(onCall)) {}
    std::unique_ptr<SimulatorObject> create(SimulatorSide) override {
      return std::make_unique<SilentSimulator>(heard);
    }
    std::string call(const std::string&) override {
      heard();
      return "";
    }
    std::function<void()> heard;
  };
  fake.line->setWriteHook([&](const Bytes& bytes) {
    if (bytes.size() > 1) polled();
  });
  std::atomic<bool> strayAnswers{false};
  fake.line->setResponder([&](const Bytes&) -> std::optional<Bytes> {
    if (!strayAnswers) return std::nullopt;
    return answerFrame(Silent + 1, 2, 0, 0);
  });
  fake.simulatorLink = std::make_shared<SilentSimulator>(polled);

  for (const Limits& limits : cases) {
    SCOPED_TRACE(::testing::Message()
                 << (limits.simulator ? "simulator" : "bus") << ", weight " << int(limits.weight)
                 << ", timeout " << limits.deviceTimeout);
    if (limits.simulator && !fake.markers->exists("SIMUL")) fake.markers->holdElsewhere("SIMUL");
    remake(owner);
    session->SetLostThresholds(limits.deviceTimeout, limits.weight);
    CoreOf(*session).PollDivisor = limits.divisor;
    ASSERT_TRUE(session->SetPollSchedule({Silent}));
    std::atomic<int32_t> missesAtLoss{0};
    double silenceAtLoss = 0;
    session->OnLostDevice = [&](uint8_t addr) {
      missesAtLoss = CoreOf(*session).MissCount[addr];
      silenceAtLoss = (fake.clock->nowDays() - CoreOf(*session).LastAnswerTime[addr]) * 86'400;
    };
    const auto runUntilLost = [&](int32_t misses, double lastAnswerDays) {
      CoreOf(*session).MissCount[Silent] = misses;
      CoreOf(*session).LastAnswerTime[Silent] = lastAnswerDays;
      CoreOf(*session).LostSet.reset(Silent);
      missesAtLoss = 0;
      return runUntil([&] { return missesAtLoss != 0; });
    };

    strayAnswers = true;
    ASSERT_TRUE(runUntilLost(limits.lostAtMiss - 3, 0));
    EXPECT_EQ(missesAtLoss, limits.lostAtMiss);

    strayAnswers = false;
    ASSERT_TRUE(runUntilLost(1'000'000, fake.clock->nowDays()));
    const double cycleSeconds = [&] {
      std::lock_guard lock(pollLock);
      return static_cast<double>(polledAt[1] - polledAt[0]) / 1e6;
    }();
    EXPECT_GT(silenceAtLoss, limits.silenceSeconds);
    EXPECT_LE(silenceAtLoss - cycleSeconds, limits.silenceSeconds);
  }
  // The hooks above end with this test.
  session.reset();
}

TEST_F(WorkerTest, HandlerMayRequestDirectlyAndStopTheWorker) {
  devices.set(5, {.pollCode = 12});  // an event at every poll
  for (const bool withOwner : {true, false}) {
    SCOPED_TRACE(withOwner ? "handlers on the owner" : "handlers on the worker");
    remake(withOwner ? owner : nullptr);
    std::atomic<int> events{0};
    std::atomic<int> failures{0};
    session->OnNewEvent = [&](Bytes) {
      if (!session->DirectRequest(Identify, 1)) ++failures;
      if (++events == 3) session->SetWork(false);
    };
    ASSERT_TRUE(session->SetPollSchedule({5}));
    session->SetWork(true);
    ASSERT_TRUE(eventually([&] { return events.load() >= 3; }));
    owner->invokeSync([] {});
    std::this_thread::sleep_for(20ms);
    const size_t before = heard();
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(session->Work());
    EXPECT_EQ(heard(), before);
    EXPECT_EQ(events.load(), 3);
    EXPECT_EQ(failures.load(), 0);
  }
}

TEST_F(WorkerTest, AStopFromAHandlerStillDeliversWhatThePollTookFromTheBus) {
  const auto pollUntilAHandlerStops = [&](uint8_t addr) {
    ASSERT_TRUE(session->SetPollSchedule({addr}));
    session->SetWork(true);
    ASSERT_TRUE(eventually([&] { return !session->Work(); }));
    std::this_thread::sleep_for(20ms);
    owner->invokeSync([] {});
  };
  // A device back from silence reports an event, which the poll has already
  // acknowledged when the handler of its return stops the worker.
  devices.set(5, {.pollCode = 4, .pollEvents = {{3, 2}}});
  CoreOf(*session).LostSet.set(5);
  session->OnNewDevice = [&](uint8_t) { session->SetWork(false); };
  pollUntilAHandlerStops(5);
  EXPECT_EQ(record.named("event").size(), 1u);
  EXPECT_EQ(devices.count(0x03), 1u);

  // Both subscriptions of a false device hear of it, though the first
  // report's handler stops the worker.
  devices.set(6, {.pollCode = 7});
  session->SubscribeLoop(6, 1);
  session->SubscribeLoop(6, 2);
  const TRSDeviceProcA recordReport = session->OnNewADC;
  session->OnNewADC = [&, recordReport](const Bytes& event, uint8_t command, uint8_t loop,
                                        int32_t type, const void* data, int32_t size) {
    recordReport(event, command, loop, type, data, size);
    session->SetWork(false);
  };
  pollUntilAHandlerStops(6);
  const auto reports = record.named("adc");
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].loop, 1);
  EXPECT_EQ(reports[1].loop, 2);
  EXPECT_EQ(reports[1].value, -3);
}

TEST_F(WorkerTest, ChangingThePortWhileTheWorkerRunsStopsReleasesAndRestarts) {
  devices.set(5, {.pollCode = 12});  // an event at every poll
  ASSERT_TRUE(session->SetPollSchedule({5}));
  session->SetWork(true);
  for (int port : {2, 3, 4, 1, 2}) {
    ASSERT_TRUE(morePolls(3));
    session->SetComPort(port);
    EXPECT_TRUE(session->Work());
  }
  ASSERT_TRUE(morePolls(3));
  session->SetWork(false);
  EXPECT_EQ(session->ComPort(), 2);
  EXPECT_TRUE(CoreOf(*session).PortOpen());
}

TEST_F(WorkerTest, DestroyingARunningSessionFromAnotherThreadOrOnTheOwner) {
  devices.set(5, {.pollCode = 12});  // an event at every poll
  for (int round = 1; round <= 10; ++round) {
    remake(owner);
    record.attach(*session, owner.get());
    session->SubscribeLoop(5, 1);
    session->SetAdcPeriod(1);
    ASSERT_TRUE(session->SetPollSchedule({5}));
    session->SetWork(true);
    ASSERT_TRUE(morePolls(static_cast<size_t>(round)));
    session.reset();
    const size_t before = heard();
    std::this_thread::sleep_for(2ms);
    EXPECT_EQ(heard(), before);
  }
  // The worker's hand-over waits in the busy owner's queue: destruction calls
  // it off instead of waiting for it, and the handler never sees it.
  remake(owner);
  std::atomic<int> events{0};
  session->OnNewEvent = [&](Bytes) { ++events; };
  ASSERT_TRUE(session->SetPollSchedule({5}));
  session->SetWork(true);
  int handledBefore = 0;
  owner->invokeSync([&] {
    while (owner->waiting() == 0) std::this_thread::sleep_for(1ms);
    handledBefore = events.load();
    session.reset();
  });
  owner->invokeSync([] {});
  EXPECT_EQ(events.load(), handledBefore);
}

TEST_F(WorkerTest, ABusFailureThatRaisesEndsOnlyTheCycle) {
  // The driver's port has "Settings" that binding cannot put back, so every
  // exchange raises.
  fake.driver->setPresent(true);
  const std::string instance = std::string(SerialInstancesKey) + "\\00";
  fake.registry->set(instance, "PortName", RegValue::ofString("COM1"));
  fake.registry->set(instance, "Settings", RegValue::ofString("9600"));
  remake(owner);
  ASSERT_TRUE(session->SetPollSchedule({5}));
  ASSERT_TRUE(session->QueueRequest(Identify));
  session->SetWork(true);
  std::this_thread::sleep_for(50ms);
  session->SetWork(false);
  EXPECT_GT(CoreOf(*session).CycleCount, 2u);
  EXPECT_EQ(CoreOf(*session).RingHead, CoreOf(*session).RingTail);
  EXPECT_THROW(session->DirectRequest(Identify, 1), PortSettingsError);

  // Whatever a simulator object raises, not only the simulator's own error,
  // leaves the worker's thread running.
  struct RaisingLink : SimulatorLink {
    std::unique_ptr<SimulatorObject> create(SimulatorSide) override { throw 42; }
  };
  fake.markers->holdElsewhere("SIMUL");
  fake.simulatorLink = std::make_shared<RaisingLink>();
  remake(owner);
  session->SetWork(true);
  std::this_thread::sleep_for(50ms);
  session->SetWork(false);
  EXPECT_THROW(session->DirectRequest(Identify, 1), int);
}

TEST_F(WorkerTest, EmptyOrAllZeroScheduleDoesNotHang) {
  for (const std::vector<uint8_t>& schedule : {std::vector<uint8_t>{}, {0, 0, 0}}) {
    ASSERT_TRUE(session->SetPollSchedule(schedule));
    session->SetWork(true);
    std::this_thread::sleep_for(10ms);
    session->SetWork(false);
  }
  EXPECT_EQ(CoreOf(*session).CycleCount, 0u);
}

}  // namespace
}  // namespace loopmon::testing
