#include <sched.h>
#include <sys/prctl.h>
#include <time.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/system/clock.h"

namespace loopmon {
namespace {

using Steady = std::chrono::steady_clock;

constexpr int64_t kNanosPerSecond = 1'000'000'000;
// Days from 1899-12-30, the date-time epoch of the bus code, to 1970-01-01.
constexpr double kUnixEpochDays = 25569.0;

class SteadyClock final : public Clock {
 public:
  uint32_t tickCountMs() override {
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now().time_since_epoch());
    return static_cast<uint32_t>(ms.count());
  }

  // CLOCK_MONOTONIC in nanoseconds, so that an absolute sleep can aim at a
  // counter value directly.
  int64_t counter() override {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * kNanosPerSecond + now.tv_nsec;
  }

  int64_t counterFrequency() override { return 1'000'000'000; }

  // A zero-length sleep gives up the time slice, as it does on Windows.
  void sleepMs(uint32_t ms) override {
    if (ms == 0) {
      yield();
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }

  void sleepMicros(uint32_t micros) override {
    std::this_thread::sleep_for(std::chrono::microseconds(micros));
  }

  // An absolute sleep does not add the time the call itself takes, and with
  // the timer slack at 1 ns the kernel does not defer the wake-up to batch it
  // with others (50 us by default). What is left is the scheduler's wake-up
  // latency, which the learned spin margin covers.
  void sleepUntilCounter(int64_t target) override {
    const timespec due{static_cast<time_t>(target / kNanosPerSecond),
                       static_cast<long>(target % kNanosPerSecond)};
    const int slack = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    ::prctl(PR_SET_TIMERSLACK, 1, 0, 0, 0);
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
    }
    if (slack > 0) ::prctl(PR_SET_TIMERSLACK, slack, 0, 0, 0);
  }

  void yield() override { ::sched_yield(); }

  // The kernel's timers are fine-grained already.
  void beginTimerPeriod() override {}
  void endTimerPeriod() override {}

  double nowDays() override {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    double seconds = static_cast<double>(now.tv_sec + local.tm_gmtoff) + now.tv_nsec / 1e9;
    return kUnixEpochDays + seconds / 86400.0;
  }
};

}  // namespace

std::shared_ptr<Clock> systemClock() {
  static const std::shared_ptr<Clock> clock = std::make_shared<SteadyClock>();
  return clock;
}

}  // namespace loopmon
