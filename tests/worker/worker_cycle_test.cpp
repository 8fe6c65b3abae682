// The worker against devices on the fake serial line, with an owner thread
// of its own: polling and the lost, new and false devices; event answers; the
// loop ADC subscriptions; asynchronous commands and the request ring.

#include <gtest/gtest.h>

#include <algorithm>

#include "fake_platform.h"
#include "worker_harness.h"

namespace loopmon::testing {
namespace {

using namespace std::chrono_literals;

constexpr uint8_t Presence = 0x01;
constexpr uint8_t Acknowledge = 0x03;
constexpr uint8_t Identify = 0x0D;
constexpr uint8_t LoopAdc = 0x1B;
constexpr uint8_t LineDevice = 0x39;

class WorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    devices.attach(*fake.line);
    session = std::make_unique<TRSSession>(fake.platform(), owner);
    record.attach(*session, owner.get());
  }

  void TearDown() override { session.reset(); }

  // Lets the worker run until `done`, then switches it off so the test may
  // look at the session's fields.
  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
    session->SetWork(true);
    const auto end = std::chrono::steady_clock::now() + limit;
    bool reached = false;
    while (!(reached = done()) && std::chrono::steady_clock::now() < end) {
      fake.line->clearCalls();
      std::this_thread::sleep_for(1ms);
    }
    session->SetWork(false);
    // A hand-over that was under way when the worker went off the bus still
    // reaches the owner; it follows within moments.
    std::this_thread::sleep_for(5ms);
    owner->invokeSync([] {});
    return reached;
  }

  // Polls of `addr` so far.
  size_t polls(uint8_t addr) const {
    const auto all = devices.requests(Presence);
    return static_cast<size_t>(
        std::count_if(all.begin(), all.end(), [addr](const Bytes& r) { return r[0] == addr; }));
  }

  FakePlatform fake;
  FakeDevices devices;
  std::shared_ptr<OwnerLoop> owner = std::make_shared<OwnerLoop>();
  std::unique_ptr<TRSSession> session;
  EventRecord record;
};

TEST_F(WorkerTest, SilentDeviceIsLostOnceAfterTheThresholdsAndNewWhenItAnswersAgain) {
  devices.set(5, {});
  devices.set(6, {});
  ASSERT_TRUE(session->SetPollSchedule({5, 0, 6}));
  // More than 1 * 44 / 15 * 1 = 2.93 misses and more than 1.1232 s of silence.
  session->SetLostThresholds(1, 1);

  int32_t missesWhenLost = 0;
  double silenceWhenLost = 0;
  session->OnLostDevice = [&](uint8_t addr) {
    missesWhenLost = session->MissCount[addr];
    silenceWhenLost = fake.clock->nowDays() - session->LastAnswerTime[addr];
    record.add({"lost", addr, 0, 0, 0, {}, {}, true});
  };

  ASSERT_TRUE(runUntil([&] { return polls(5) >= 3; }));
  EXPECT_TRUE(record.all().empty());
  // The empty slot is skipped: the two addresses take turns.
  const auto sequence = devices.requests(Presence);
  for (size_t i = 1; i < sequence.size(); ++i) EXPECT_NE(sequence[i][0], sequence[i - 1][0]);

  devices.change(5, [](FakeDevice& d) { d.silent = true; });
  const size_t before = polls(5);
  ASSERT_TRUE(runUntil([&] { return !record.named("lost").empty() && polls(5) > before + 60; }));
  ASSERT_EQ(record.named("lost").size(), 1u);
  EXPECT_EQ(record.named("lost")[0].addr, 5);
  EXPECT_GE(missesWhenLost, 3);
  EXPECT_GT(silenceWhenLost, 0.000013);
  EXPECT_TRUE(session->LostSet.test(5));
  EXPECT_FALSE(session->LostSet.test(6));
  EXPECT_GT(session->PollFailCount, 0u);

  devices.change(5, [](FakeDevice& d) { d.silent = false; });
  const size_t answeredFrom = polls(5);
  ASSERT_TRUE(runUntil([&] { return polls(5) > answeredFrom + 5; }));
  ASSERT_EQ(record.named("new").size(), 1u);
  EXPECT_EQ(record.named("new")[0].addr, 5);
  EXPECT_EQ(record.named("lost").size(), 1u);
  EXPECT_FALSE(session->LostSet.test(5));
  EXPECT_EQ(session->MissCount[5], 0);
}

TEST_F(WorkerTest, FalseDeviceClearsItsKeyEntersLostSetAndIsReportedToSubscriptions) {
  FakeDevice impostor;
  impostor.pollCode = 7;
  devices.set(6, impostor);
  ASSERT_TRUE(session->SetPollSchedule({6}));
  session->SubscribeLoop(6, 1, {0xAB});

  ASSERT_TRUE(
      runUntil([&] { return !record.named("false").empty() && !record.named("adc").empty(); }));
  EXPECT_EQ(session->KeyWord[6], 0);
  EXPECT_TRUE(session->LostSet.test(6));
  const auto reports = record.named("adc");
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports[0].value, -3);
  EXPECT_TRUE(reports[0].frame.empty());
  EXPECT_EQ(reports[0].data, Bytes{0xAB});
  ASSERT_EQ(session->DeviceSet.Devices.size(), 1u);
  EXPECT_EQ(session->DeviceSet.Devices[0].TypeDevice, -1);
}

TEST_F(WorkerTest, EventAnswersAreDeliveredAcknowledgedAndDecodedIntoReadings) {
  FakeDevice reporting;
  reporting.pollCode = 4;
  reporting.pollEvents = {{3, 2}, {117, 3}, {24, 4}};
  reporting.adc = {{2, 90}, {3, 91}, {4, 92}};
  devices.set(5, reporting);
  FakeDevice other;
  other.pollCode = 12;
  devices.set(7, other);
  ASSERT_TRUE(session->SetPollSchedule({5, 7}));

  ASSERT_TRUE(runUntil([&] { return record.named("event").size() >= 6; }));
  const auto events = record.named("event");
  EXPECT_EQ(events[0].frame, answerFrame(5, 4, 3, 2));
  for (const SeenEvent& event : events) EXPECT_TRUE(event.onOwnerThread);
  const auto acks = devices.requests(Acknowledge);
  EXPECT_GE(std::count_if(acks.begin(), acks.end(), [](const Bytes& r) { return r[0] == 5; }), 3);

  // Class -1 for event 3 in a code-4 frame, -4 for event 24 from a poll; event
  // 117 asks for a reading of subscribed loops only; code 12 carries none.
  const auto readings = record.named("adc");
  ASSERT_EQ(readings.size(), 2u);
  EXPECT_EQ(readings[0].loop, 2);
  EXPECT_EQ(readings[0].value, -1);
  EXPECT_EQ(readings[0].extra, 0);
  EXPECT_EQ(readings[0].frame, answerFrame(5, 0x1C, 2, 90));
  EXPECT_EQ(readings[1].loop, 4);
  EXPECT_EQ(readings[1].value, -4);
  const auto reads = devices.requests(LoopAdc);
  ASSERT_EQ(reads.size(), 2u);
  EXPECT_EQ(reads[0][4], 2);
  EXPECT_EQ(reads[1][4], 4);
}

TEST_F(WorkerTest, SubscriptionReportsTheFirstReadingAndThenOnlyMovesOfMoreThanOne) {
  FakeDevice device;
  device.adc = {{1, 100}};
  devices.set(5, device);
  session->SetAdcPeriod(1);
  session->SubscribeLoop(5, 1, {1, 2, 3});

  ASSERT_TRUE(runUntil([&] { return record.named("adc").size() >= 1; }));
  // Not searched, so the type is the table's 128: command 0x1B, kind 2.
  const auto kinds = record.named("kind");
  ASSERT_EQ(kinds.size(), 1u);
  EXPECT_EQ(kinds[0].addr, 5);
  EXPECT_EQ(kinds[0].loop, 1);
  EXPECT_EQ(kinds[0].value, 2);
  EXPECT_EQ(kinds[0].extra, NoDevice);
  auto reports = record.named("adc");
  EXPECT_EQ(reports[0].frame, answerFrame(5, 0x1C, 1, 100));
  EXPECT_EQ(reports[0].value, 2);
  EXPECT_EQ(reports[0].extra, LoopAdc);
  EXPECT_EQ(reports[0].data, (Bytes{1, 2, 3}));

  auto readsAfter = [&](size_t more) {
    const size_t from = devices.count(LoopAdc);
    return runUntil([&] { return devices.count(LoopAdc) >= from + more; });
  };
  ASSERT_TRUE(readsAfter(3));
  devices.change(5, [](FakeDevice& d) { d.adc[1] = 101; });
  ASSERT_TRUE(readsAfter(3));
  devices.change(5, [](FakeDevice& d) { d.adc[1] = 99; });
  ASSERT_TRUE(readsAfter(3));
  EXPECT_EQ(record.named("adc").size(), 1u);

  // A move of 2 from the last reported value is reported and becomes the
  // reference.
  devices.change(5, [](FakeDevice& d) { d.adc[1] = 102; });
  ASSERT_TRUE(readsAfter(3));
  reports = record.named("adc");
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[1].frame[4], 102);
  devices.change(5, [](FakeDevice& d) { d.adc[1] = 101; });
  ASSERT_TRUE(readsAfter(3));
  EXPECT_EQ(record.named("adc").size(), 2u);

  // Unchanged for 20 minutes: reported again.
  fake.clock->advanceMs(20 * 60 * 1000);
  ASSERT_TRUE(readsAfter(1));
  reports = record.named("adc");
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[2].frame[4], 101);
}

TEST_F(WorkerTest, KindDeterminationOfTypes9And12RefusalsAndUnreadableLoops) {
  FakeDevice lineDevices;
  lineDevices.type = 9;
  lineDevices.lineKinds = {{1, 2}, {2, 3}};
  lineDevices.refusedLoops = {2};
  lineDevices.adc = {{1, 60}, {2, 61}};
  devices.set(7, lineDevices);
  FakeDevice unreadable;
  unreadable.type = 9;
  unreadable.lineKinds = {{1, 1}};
  devices.set(8, unreadable);
  FakeDevice kinds12;
  kinds12.type = 12;
  kinds12.lineKinds = {{1, 31}};
  kinds12.adc = {{1, 70}};
  devices.set(9, kinds12);
  // Found by a search; device 9's type is asked of the device after its loss.
  session->SetDeviceType(7, 9);
  session->SetDeviceType(8, 9);
  session->SetAdcPeriod(1);
  for (auto [addr, loop] : {std::pair{7, 1}, {7, 2}, {8, 1}, {9, 1}}) {
    session->SubscribeLoop(static_cast<uint8_t>(addr), static_cast<uint8_t>(loop));
  }
  ASSERT_TRUE(session->SetPollSchedule({9}));
  const auto readingOf = [&](uint8_t addr, int32_t kind) {
    const auto reports = record.named("adc");
    return std::any_of(reports.begin(), reports.end(),
                       [&](const SeenEvent& e) { return e.addr == addr && e.value == kind; });
  };
  ASSERT_TRUE(runUntil([&] { return readingOf(9, 2); }));
  devices.change(9, [](FakeDevice& d) { d.silent = true; });
  session->SetLostThresholds(0, 1);
  ASSERT_TRUE(runUntil([&] { return !record.named("lost").empty(); }));
  devices.change(9, [](FakeDevice& d) { d.silent = false; });

  ASSERT_TRUE(runUntil(
      [&] { return readingOf(9, 1) && readingOf(7, 2) && devices.count(LineDevice) > 20; }));
  // Loop 2 of device 7 was refused and removed; device 8 had a loop that
  // cannot be read and went as a whole.
  const auto& set = session->DeviceSet.Devices;
  ASSERT_EQ(set.size(), 2u);
  EXPECT_EQ(set[0].Addr, 7);
  ASSERT_EQ(set[0].Loops.size(), 1u);
  EXPECT_EQ(set[0].Loops[0].NumShl, 1);
  EXPECT_EQ(set[0].Loops[0].Cmd, LineDevice);
  EXPECT_EQ(set[0].Loops[0].TypeEventShl, 2);
  EXPECT_EQ(set[1].Addr, 9);
  EXPECT_EQ(set[1].TypeDevice, 12);
  EXPECT_EQ(set[1].Loops[0].TypeEventShl, 1);
  const auto kindReports = record.named("kind");
  EXPECT_TRUE(std::any_of(kindReports.begin(), kindReports.end(), [](const SeenEvent& e) {
    return e.addr == 7 && e.loop == 2 && e.value == 1;
  }));
  const auto identifies = devices.requests(Identify);
  EXPECT_TRUE(
      std::any_of(identifies.begin(), identifies.end(), [](const Bytes& r) { return r[0] == 9; }));
  EXPECT_FALSE(
      std::any_of(identifies.begin(), identifies.end(), [](const Bytes& r) { return r[0] == 7; }));
}

TEST_F(WorkerTest, SubscribedLoopsAreReadInTurnAndALostDeviceGetsNoRequest) {
  FakeDevice device;
  device.adc = {{1, 10}, {2, 20}};
  devices.set(5, device);
  devices.set(6, device);
  session->SetAdcPeriod(1);
  session->SubscribeLoop(5, 1);
  session->SubscribeLoop(5, 2);
  session->SubscribeLoop(6, 1);
  ASSERT_TRUE(runUntil([&] { return devices.count(LoopAdc) >= 9; }));
  auto reads = devices.requests(LoopAdc);
  const std::vector<std::pair<uint8_t, uint8_t>> turn{{5, 1}, {5, 2}, {6, 1}};
  for (size_t i = 0; i < 9; ++i) {
    EXPECT_EQ(reads[i][0], turn[i % 3].first) << i;
    EXPECT_EQ(reads[i][4], turn[i % 3].second) << i;
  }

  session->LostSet.set(6);
  const size_t from = reads.size();
  ASSERT_TRUE(runUntil([&] { return devices.count(LoopAdc) >= from + 6; }));
  reads = devices.requests(LoopAdc);
  for (size_t i = from; i < reads.size(); ++i) EXPECT_EQ(reads[i][0], 5);
}

TEST_F(WorkerTest, AsynchronousCommandsAreAnsweredWithTheAnswerOrNothing) {
  FakeDevice device;
  device.type = 4;
  device.loopStates = {{1, 109}};
  devices.set(5, device);
  session->SubscribeLoop(5, 1);
  EXPECT_FALSE(session->PostAsyncCommand(1, SessionMessage::Device, 666, {5, 6, 0, 0x0D, 0, 0}));
  ASSERT_TRUE(session->PostAsyncCommand(77, 2000, 3, {5, 6, 0, 0x0D, 0, 0}));
  ASSERT_TRUE(session->PostAsyncCommand(78, 2000, 3, {40, 6, 0, 0x0D, 0, 0}));
  ASSERT_TRUE(session->PostAsyncCommand(79, 2001, 3, {5, 6, 0, 0x19, 1, 0}));
  ASSERT_TRUE(runUntil([&] { return record.named("async").size() >= 3; }));

  const auto answers = record.named("async");
  EXPECT_EQ(answers[0].extra, 77);
  EXPECT_EQ(answers[0].value, 2000);
  EXPECT_EQ(answers[0].frame, answerFrame(5, 0, 4, 100));
  EXPECT_EQ(answers[1].extra, 78);
  EXPECT_TRUE(answers[1].frame.empty());
  EXPECT_EQ(answers[2].extra, 79);
  EXPECT_EQ(answers[2].frame, answerFrame(5, 26, 1, 109));
  // The loop-state command of a subscribed loop first determined its kind;
  // the state it read (109, from a determination: class -12) asked for a
  // reading.
  const auto all = record.all();
  const auto kind =
      std::find_if(all.begin(), all.end(), [](const SeenEvent& e) { return e.name == "kind"; });
  const auto last = std::find_if(all.begin(), all.end(), [](const SeenEvent& e) {
    return e.name == "async" && e.extra == 79;
  });
  EXPECT_LT(kind, last);
  const auto readings = record.named("adc");
  ASSERT_FALSE(readings.empty());
  EXPECT_EQ(readings[0].value, -12);
}

TEST_F(WorkerTest, RingRequestsAreSentAndAFullRingRefusesMore) {
  devices.set(5, {});
  Bytes longRequest{5, 6, 0, Identify, 0, 0};
  longRequest.resize(80, 0);
  ASSERT_TRUE(session->QueueRequest(longRequest));
  EXPECT_EQ(session->CommandRing[1].size(), 64u);
  for (int i = 1; i < 255; ++i) ASSERT_TRUE(session->QueueRequest({5, 6, 0, Identify, 0, 0}));
  EXPECT_FALSE(session->QueueRequest({5, 6, 0, Identify, 0, 0}));
  ASSERT_TRUE(runUntil([&] { return devices.count(Identify) >= 255; }));
  EXPECT_EQ(session->RingHead, session->RingTail);
  EXPECT_TRUE(session->QueueRequest({5, 6, 0, Identify, 0, 0}));
}

}  // namespace
}  // namespace loopmon::testing
