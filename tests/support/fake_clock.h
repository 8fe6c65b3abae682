#pragma once
// A deterministic Clock: time moves only when the test or the code under test
// makes it move (sleeps, yields, counter reads), so waits and time-outs can be
// checked exactly.

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/system/clock.h"

namespace loopmon::testing {

class FakeClock : public Clock {
 public:
  static constexpr int64_t Frequency = 10'000'000;

  uint32_t tickCountMs() override { return static_cast<uint32_t>(nowMicros() / 1000); }
  // Every read moves time on by 1 us, so a loop that spins on the counter still ends.
  int64_t counter() override {
    return locked([&] { return Frequency / 1'000'000 * micros_++; });
  }
  int64_t counterFrequency() override { return Frequency; }
  void sleepMs(uint32_t ms) override { sleep(sleepsMs_, ms, int64_t{ms} * 1000); }
  void sleepMicros(uint32_t micros) override { sleep(sleepsMicros_, micros, micros); }
  void yield() override { advanceMicros(1); }
  void beginTimerPeriod() override {
    locked([&] { ++timerPeriodDepth_; });
  }
  void endTimerPeriod() override {
    locked([&] { --timerPeriodDepth_; });
  }
  // 2024-01-01 00:00 plus the elapsed fake time.
  double nowDays() override { return 45292.0 + static_cast<double>(nowMicros()) / 86'400e6; }

  int64_t nowMicros() const {
    return locked([&] { return micros_; });
  }
  void advanceMs(int64_t ms) { advanceMicros(ms * 1000); }
  void advanceMicros(int64_t micros) {
    locked([&] { micros_ += micros; });
  }
  std::vector<uint32_t> sleepsMs() const {
    return locked([&] { return sleepsMs_; });
  }
  std::vector<uint32_t> sleepsMicros() const {
    return locked([&] { return sleepsMicros_; });
  }
  int timerPeriodDepth() const {
    return locked([&] { return timerPeriodDepth_; });
  }

 private:
  void sleep(std::vector<uint32_t>& log, uint32_t asked, int64_t micros) {
    std::lock_guard lock(mutex_);
    log.push_back(asked);
    micros_ += micros;
  }
  template <class Action>
  auto locked(Action action) const -> decltype(action()) {
    std::lock_guard lock(mutex_);
    return action();
  }

  mutable std::mutex mutex_;
  int64_t micros_ = 1'000'000;
  std::vector<uint32_t> sleepsMs_;
  std::vector<uint32_t> sleepsMicros_;
  int timerPeriodDepth_ = 0;
};

}  // namespace loopmon::testing
