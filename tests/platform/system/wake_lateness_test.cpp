// The timed wait's spin margin, learned from how late its sleeps wake, on a
// fake clock whose sleeps wake late by scripted amounts.

#include <gtest/gtest.h>

#include <vector>

#include "fake_clock.h"
#include "platform/system/wake_lateness.h"

namespace loopmon {
namespace {

class LateClock final : public testing::FakeClock {
 public:
  int64_t lateMicros = 0;
  int64_t preemptMicros = 0;  // taken from the spin after each sleep
  int64_t ownMarginMicros = 150;
  void sleepUntilCounter(int64_t target) override {
    advanceMicros(target / (Frequency / 1'000'000) - nowMicros() + lateMicros);
    readsToPreemption_ = preemptMicros > 0 ? 2 : 0;
  }
  int64_t counter() override {
    if (readsToPreemption_ > 0 && --readsToPreemption_ == 0) advanceMicros(preemptMicros);
    return FakeClock::counter();
  }
  int64_t clockSpinMarginMicros() const override { return ownMarginMicros; }

 private:
  int readsToPreemption_ = 0;
};

// `sleeps` waits whose sleeps wake late by `lateMicros`, taken in turn.
struct Phase {
  int sleeps;
  std::vector<int64_t> lateMicros;
  int64_t preemptMicros = 0;
};

TEST(WakeLateness, MarginFollowsTheRecentHighQuantileWithinReach) {
  const std::vector<int64_t> quiet{10, 20, 30, 40};
  std::vector<int64_t> noisy(9, 300);
  noisy.push_back(900);  // one in ten
  std::vector<int64_t> busy(19, 400);
  busy.push_back(3000);
  struct Case {
    const char* what;
    std::vector<Phase> phases;
    int64_t marginMicros;
    int64_t clockMarginMicros = 150;
  };
  const Case cases[] = {
      {"nothing measured yet: the clock's own", {}, 150},
      {"too few sleeps to judge", {{15, noisy}}, 150},
      {"quiet machine: never below the clock's own", {{200, quiet}}, 150},
      {"noisy: the late tenth is covered", {{200, noisy}}, 950},
      {"a coarse clock's own margin is the least", {{200, noisy}}, 1500, 1500},
      {"late beyond reach: a busy machine, the clock's own", {{200, busy}}, 150},
      {"a single outlier moves nothing", {{200, quiet}, {1, {1500}}}, 150},
      {"a second one within the window counts", {{200, quiet}, {2, {1500}}}, 1550},
      {"quiet again after a noisy spell", {{200, {1500}}, {128, quiet}}, 150},
      {"one preempted spin is an accident", {{200, noisy}, {1, noisy, 500}}, 950},
      {"spins preempted again: a busy machine", {{200, noisy}, {2, noisy, 500}}, 150},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LateClock clock;
    clock.ownMarginMicros = c.clockMarginMicros;
    for (const Phase& phase : c.phases) {
      clock.preemptMicros = phase.preemptMicros;
      for (int i = 0; i < phase.sleeps; ++i) {
        clock.lateMicros = phase.lateMicros[static_cast<size_t>(i) % phase.lateMicros.size()];
        const int64_t target = clock.counter() + LateClock::Frequency / 100;
        waitForCounter(clock, target);
        ASSERT_GE(clock.counter(), target);
      }
    }
    EXPECT_EQ(clock.spinMarginMicros(), c.marginMicros);
  }
}

}  // namespace
}  // namespace loopmon
