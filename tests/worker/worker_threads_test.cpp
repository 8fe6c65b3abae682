// Stopping, reconfiguring and destroying a session whose worker is running,
// from other threads and from inside its own event handlers.

#include <gtest/gtest.h>

#include <atomic>

#include "fake_platform.h"
#include "platform/registry.h"
#include "worker_harness.h"

namespace loopmon::testing {
namespace {

using namespace std::chrono_literals;

constexpr uint8_t Presence = 0x01;

struct Bus {
  Bus() { devices.attach(*fake.line); }

  // Waits until the line has heard `more` further polls.
  bool morePolls(size_t more) {
    const size_t from = devices.count(Presence);
    const bool heard = devices.waitForCount(Presence, from + more);
    fake.line->clearCalls();
    return heard;
  }

  FakePlatform fake;
  FakeDevices devices;
};

TEST(WorkerThreads, HandlerThatStopsTheWorkerFromInsideAnEventReturnsAndNothingFollows) {
  Bus bus;
  FakeDevice reporting;
  reporting.pollCode = 12;
  bus.devices.set(5, reporting);
  auto owner = std::make_shared<OwnerLoop>();
  TRSSession session(bus.fake.platform(), owner);
  std::atomic<int> events{0};
  session.OnNewEvent = [&](Bytes) {
    ++events;
    session.SetWork(false);
  };
  ASSERT_TRUE(session.SetPollSchedule({5}));
  session.SetWork(true);
  while (events.load() == 0) std::this_thread::sleep_for(1ms);
  owner->invokeSync([] {});
  EXPECT_FALSE(session.Work());
  const size_t heard = bus.devices.requests().size();
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(bus.devices.requests().size(), heard);
  EXPECT_EQ(events.load(), 1);
}

TEST(WorkerThreads, HandlersRunningOnTheWorkerItselfMayStopItAndMakeDirectRequests) {
  Bus bus;
  FakeDevice reporting;
  reporting.pollCode = 12;
  bus.devices.set(5, reporting);
  TRSSession session(bus.fake.platform());
  std::atomic<int> events{0};
  std::atomic<bool> directAnswered{true};
  session.OnNewEvent = [&](Bytes) {
    if (!session.DirectRequest({5, 6, 0, 0x0D, 0, 0}, 1)) directAnswered = false;
    if (++events == 20) session.SetWork(false);
  };
  ASSERT_TRUE(session.SetPollSchedule({5}));
  session.SetWork(true);
  while (events.load() < 20) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(10ms);
  EXPECT_FALSE(session.Work());
  EXPECT_EQ(events.load(), 20);
  EXPECT_TRUE(directAnswered.load());
}

TEST(WorkerThreads, DirectRequestsFromTheOwnerDuringEventsAndBetweenThem) {
  Bus bus;
  FakeDevice reporting;
  reporting.pollCode = 12;
  bus.devices.set(5, reporting);
  auto owner = std::make_shared<OwnerLoop>();
  TRSSession session(bus.fake.platform(), owner);
  std::atomic<int> failures{0};
  session.OnNewEvent = [&](Bytes) {
    if (!session.DirectRequest({5, 6, 0, 0x0D, 0, 0}, 1)) ++failures;
  };
  ASSERT_TRUE(session.SetPollSchedule({5}));
  session.SetWork(true);
  for (int i = 0; i < 30; ++i) {
    owner->invokeSync([&] {
      if (!session.DirectRequest({5, 6, 0, 0x0D, 0, 0}, 1)) ++failures;
    });
    ASSERT_TRUE(bus.morePolls(2));
  }
  // Read on the owner's thread: a handler's direct request switches the
  // worker off for its duration.
  bool working = false;
  owner->invokeSync([&] { working = session.Work(); });
  EXPECT_TRUE(working);
  session.SetWork(false);
  EXPECT_EQ(failures.load(), 0);
}

TEST(WorkerThreads, ChangingThePortWhileTheWorkerRunsStopsReleasesAndRestarts) {
  Bus bus;
  bus.devices.set(5, {});
  auto owner = std::make_shared<OwnerLoop>();
  TRSSession session(bus.fake.platform(), owner);
  ASSERT_TRUE(session.SetPollSchedule({5}));
  session.SetWork(true);
  for (int port : {2, 3, 4, 1, 2}) {
    ASSERT_TRUE(bus.morePolls(3));
    session.SetComPort(port);
    EXPECT_TRUE(session.Work());
  }
  ASSERT_TRUE(bus.morePolls(3));
  session.SetWork(false);
  EXPECT_EQ(session.ComPort, 2);
  EXPECT_TRUE(session.PortOpen());
}

TEST(WorkerThreads, DestroyingARunningSessionFromAnotherThread) {
  for (int round = 0; round < 10; ++round) {
    Bus bus;
    FakeDevice reporting;
    reporting.pollCode = 12;
    bus.devices.set(5, reporting);
    auto owner = std::make_shared<OwnerLoop>();
    auto session = std::make_unique<TRSSession>(bus.fake.platform(), owner);
    EventRecord record;
    record.attach(*session, owner.get());
    session->SubscribeLoop(5, 1);
    session->SetAdcPeriod(1);
    ASSERT_TRUE(session->SetPollSchedule({5}));
    session->SetWork(true);
    ASSERT_TRUE(bus.morePolls(static_cast<size_t>(round + 1)));
    session.reset();
    const size_t heard = bus.devices.requests().size();
    std::this_thread::sleep_for(2ms);
    EXPECT_EQ(bus.devices.requests().size(), heard);
  }
}

TEST(WorkerThreads, DestroyingOnTheOwnerThreadWhileTheWorkerWaitsForIt) {
  Bus bus;
  FakeDevice reporting;
  reporting.pollCode = 12;
  bus.devices.set(5, reporting);
  auto owner = std::make_shared<OwnerLoop>();
  auto session = std::make_unique<TRSSession>(bus.fake.platform(), owner);
  std::atomic<int> events{0};
  session->OnNewEvent = [&](Bytes) { ++events; };
  ASSERT_TRUE(session->SetPollSchedule({5}));
  session->SetWork(true);
  // The owner is busy destroying while the worker's hand-over waits in its
  // queue: the destruction calls the hand-over off instead of waiting for it.
  int handledBefore = 0;
  owner->invokeSync([&] {
    while (owner->waiting() == 0) std::this_thread::sleep_for(1ms);
    handledBefore = events.load();
    session.reset();
  });
  owner->invokeSync([] {});
  EXPECT_EQ(session, nullptr);
  // The hand-over that was called off never reached the handler.
  EXPECT_EQ(events.load(), handledBefore);
}

TEST(WorkerThreads, ABusFailureThatRaisesEndsOnlyTheCycle) {
  Bus bus;
  // The driver's port has "Settings" that binding could not put back, so
  // every exchange raises.
  bus.fake.driver->setPresent(true);
  const std::string instance = std::string(SerialInstancesKey) + "\\00";
  bus.fake.registry->set(instance, "PortName", RegValue::ofString("COM1"));
  bus.fake.registry->set(instance, "Settings", RegValue::ofString("9600"));
  TRSSession session(bus.fake.platform(), std::make_shared<OwnerLoop>());
  ASSERT_TRUE(session.SetPollSchedule({5}));
  ASSERT_TRUE(session.QueueRequest({5, 6, 0, 0x0D, 0, 0}));
  session.SetWork(true);
  std::this_thread::sleep_for(50ms);
  session.SetWork(false);
  EXPECT_GT(session.CycleCount, 2u);
  EXPECT_EQ(session.RingHead, session.RingTail);
  EXPECT_THROW(session.DirectRequest({5, 6, 0, 0x0D, 0, 0}, 1), PortSettingsError);
}

TEST(WorkerThreads, EmptyOrAllZeroScheduleDoesNotHang) {
  Bus bus;
  TRSSession session(bus.fake.platform(), std::make_shared<OwnerLoop>());
  session.SetWork(true);
  std::this_thread::sleep_for(10ms);
  session.SetWork(false);
  ASSERT_TRUE(session.SetPollSchedule({0, 0, 0}));
  session.SetWork(true);
  std::this_thread::sleep_for(10ms);
  session.SetWork(false);
  EXPECT_TRUE(bus.devices.requests().empty());
  EXPECT_EQ(session.CycleCount, 0u);

  EXPECT_FALSE(session.SetPollSchedule({5, 128}));
  EXPECT_FALSE(session.SetPollSchedule(std::vector<uint8_t>(2501, 5)));
  EXPECT_EQ(session.PollCount, 3);
}

}  // namespace
}  // namespace loopmon::testing
