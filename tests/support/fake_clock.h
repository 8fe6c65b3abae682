#pragma once
// A deterministic Clock: time moves only when the test or the code under test
// makes it move (sleeps, yields, counter reads), so waits and time-outs can be
// checked exactly.

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/clock.h"

namespace loopmon::testing {

class FakeClock : public Clock {
 public:
  // `counterFrequency` 0 stands for a system without a high-resolution counter.
  explicit FakeClock(int64_t counterFrequency = 10'000'000, int64_t startMicros = 1'000'000);

  uint32_t tickCountMs() override;
  // Every read moves time on by `counterReadMicros`, so a loop that spins on
  // the counter still ends.
  int64_t counter() override;
  int64_t counterFrequency() override { return frequency_; }
  void sleepMs(uint32_t ms) override;
  void sleepMicros(uint32_t micros) override;
  void yield() override;
  void beginTimerPeriod() override;
  void endTimerPeriod() override;
  double nowDays() override;

  int64_t nowMicros() const;
  void advanceMicros(int64_t micros);
  void advanceMs(int64_t ms) { advanceMicros(ms * 1000); }
  // Counter value at a given time, for comparing with what the code computed.
  int64_t counterAt(int64_t micros) const;

  std::vector<uint32_t> sleepsMs() const;
  std::vector<uint32_t> sleepsMicros() const;
  int timerPeriodDepth() const;
  void setCounterReadMicros(int64_t micros);

 private:
  mutable std::mutex mutex_;
  const int64_t frequency_;
  int64_t micros_;
  int64_t counterReadMicros_ = 1;
  std::vector<uint32_t> sleepsMs_;
  std::vector<uint32_t> sleepsMicros_;
  int timerPeriodDepth_ = 0;
};

}  // namespace loopmon::testing
