#pragma once
// The system clock as the benchmarks of the engine see it, on every system.

#include <cstdint>
#include <memory>

#include "platform/system/clock.h"

namespace loopmon::bench {

// Remembers the last counter value handed out: the engine reads the counter
// just before its first write, and that reading is the base of its wait.
class RecordingClock : public Clock {
 public:
  explicit RecordingClock(std::shared_ptr<Clock> inner) : inner_(std::move(inner)) {}
  // The clock's own fixed spin margin instead of the one learned from its sleeps.
  bool fixedMargin = false;
  void sleepUntilCounter(int64_t target) override { inner_->sleepUntilCounter(target); }
  int64_t clockSpinMarginMicros() const override { return inner_->clockSpinMarginMicros(); }
  int64_t spinMarginMicros() const override {
    return fixedMargin ? clockSpinMarginMicros() : Clock::spinMarginMicros();
  }
  uint32_t tickCountMs() override { return inner_->tickCountMs(); }
  int64_t counter() override { return last_ = inner_->counter(); }
  int64_t counterFrequency() override { return inner_->counterFrequency(); }
  void sleepMs(uint32_t ms) override { inner_->sleepMs(ms); }
  void sleepMicros(uint32_t micros) override { inner_->sleepMicros(micros); }
  void yield() override { inner_->yield(); }
  void beginTimerPeriod() override { inner_->beginTimerPeriod(); }
  void endTimerPeriod() override { inner_->endTimerPeriod(); }
  double nowDays() override { return inner_->nowDays(); }
  int64_t last() const { return last_; }
  int64_t now() { return inner_->counter(); }

 private:
  std::shared_ptr<Clock> inner_;
  int64_t last_ = 0;
};

}  // namespace loopmon::bench
