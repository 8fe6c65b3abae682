#include <sched.h>
#include <time.h>

#include <chrono>
#include <thread>

#include "platform/clock.h"

namespace loopmon {
namespace {

using Steady = std::chrono::steady_clock;

// Days from 1899-12-30, the date-time epoch of the bus code, to 1970-01-01.
constexpr double kUnixEpochDays = 25569.0;

class SteadyClock final : public Clock {
 public:
  uint32_t tickCountMs() override {
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now().time_since_epoch());
    return static_cast<uint32_t>(ms.count());
  }

  int64_t counter() override {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Steady::now().time_since_epoch())
        .count();
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
