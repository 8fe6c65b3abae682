// The worker's switch-off must return only when the worker is off the bus,
// and must never wait for a worker that is itself waiting for a handler.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "session/rssess.h"

namespace loopmon {
namespace {

using namespace std::chrono_literals;

// The owner's thread: runs handed-over calls one at a time and blocks the
// caller until its call has run, like a blocking queued call into a GUI.
class OwnerLoop : public OwnerDispatcher {
 public:
  OwnerLoop() : thread_([this] { Run(); }) {}
  ~OwnerLoop() override {
    {
      std::lock_guard lock(mutex_);
      ending_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  void invokeSync(const std::function<void()>& call) override {
    std::unique_lock lock(mutex_);
    bool done = false;
    calls_.push_back([&] {
      call();
      std::lock_guard doneLock(mutex_);
      done = true;
    });
    changed_.notify_all();
    changed_.wait(lock, [&] { return done; });
  }

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return ending_ || !calls_.empty(); });
      if (calls_.empty()) return;
      auto call = std::move(calls_.front());
      calls_.pop_front();
      lock.unlock();
      call();
      changed_.notify_all();
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> calls_;
  bool ending_ = false;
  std::thread thread_;
};

// A cycle that marks the time it spends on the bus.
struct BusUse {
  std::atomic<int> onBus{0};
  std::atomic<int> cycles{0};

  void cycle() {
    onBus.fetch_add(1);
    cycles.fetch_add(1);
    std::this_thread::sleep_for(1ms);
    onBus.fetch_sub(1);
  }
};

TEST(SessionThread, SwitchOffReturnsOnlyOffTheBusAndNoCycleFollows) {
  BusUse bus;
  TRSSessionThread worker([&] { bus.cycle(); });
  for (int round = 0; round < 20; ++round) {
    worker.Resume();
    while (bus.cycles.load() <= round * 3) std::this_thread::yield();
    worker.Suspend();
    EXPECT_EQ(bus.onBus.load(), 0);
    const int cycles = bus.cycles.load();
    std::this_thread::sleep_for(3ms);
    EXPECT_EQ(bus.cycles.load(), cycles);
  }
}

TEST(SessionThread, HandlerThatSwitchesOffInsideAHandOverDoesNotWait) {
  OwnerLoop owner;
  std::unique_ptr<TRSSessionThread> worker;
  std::atomic<int> handOvers{0};
  std::atomic<bool> busAfterRefusedHandOver{false};
  worker = std::make_unique<TRSSessionThread>([&] {
    const bool goOn = worker->HandOver([&] {
      owner.invokeSync([&] {
        handOvers.fetch_add(1);
        worker->Suspend();
      });
    });
    if (goOn) busAfterRefusedHandOver = !worker->Active();
  });
  worker->Resume();
  while (handOvers.load() == 0) std::this_thread::yield();
  owner.invokeSync([&] { worker->Suspend(); });
  EXPECT_FALSE(worker->Active());
  EXPECT_FALSE(busAfterRefusedHandOver.load());
  worker.reset();
}

TEST(SessionThread, SwitchOffFromTheWorkerItselfReturns) {
  std::unique_ptr<TRSSessionThread> worker;
  std::atomic<bool> switchedOff{false};
  worker = std::make_unique<TRSSessionThread>([&] {
    worker->HandOver([&] { worker->Suspend(); });
    switchedOff = true;
  });
  worker->Resume();
  while (!switchedOff.load()) std::this_thread::yield();
  EXPECT_FALSE(worker->Active());
  worker.reset();
}

TEST(SessionThread, SwitchOffWhileTheWorkerWaitsForTheOwnerReturnsAtOnce) {
  std::mutex gate;
  std::unique_lock ownerBusy(gate);
  std::atomic<bool> inHandOver{false};
  std::atomic<bool> resumedOnBus{false};
  TRSSessionThread worker([&] {
    const bool goOn = worker.HandOver([&] {
      inHandOver = true;
      std::lock_guard wait(gate);
    });
    if (goOn) resumedOnBus = true;
  });
  worker.Resume();
  while (!inHandOver.load()) std::this_thread::yield();
  worker.Suspend();
  ownerBusy.unlock();
  worker.Suspend();
  EXPECT_FALSE(resumedOnBus.load());
}

TEST(SessionThread, DestructionStopsARunningWorker) {
  BusUse bus;
  {
    TRSSessionThread worker([&] { bus.cycle(); });
    worker.Resume();
    while (bus.cycles.load() < 3) std::this_thread::yield();
  }
  const int cycles = bus.cycles.load();
  EXPECT_EQ(bus.onBus.load(), 0);
  std::this_thread::sleep_for(3ms);
  EXPECT_EQ(bus.cycles.load(), cycles);
}

}  // namespace
}  // namespace loopmon
