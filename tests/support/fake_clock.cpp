#include "fake_clock.h"

namespace loopmon::testing {

FakeClock::FakeClock(int64_t counterFrequency, int64_t startMicros)
    : frequency_(counterFrequency), micros_(startMicros) {}

uint32_t FakeClock::tickCountMs() {
  std::lock_guard lock(mutex_);
  return static_cast<uint32_t>(micros_ / 1000);
}

int64_t FakeClock::counterAt(int64_t micros) const {
  // Split so that a long run cannot overflow: frequency * micros / 10^6.
  return frequency_ / 1'000'000 * micros + frequency_ % 1'000'000 * micros / 1'000'000;
}

int64_t FakeClock::counter() {
  std::lock_guard lock(mutex_);
  int64_t value = counterAt(micros_);
  micros_ += counterReadMicros_;
  return value;
}

void FakeClock::sleepMs(uint32_t ms) {
  std::lock_guard lock(mutex_);
  sleepsMs_.push_back(ms);
  micros_ += int64_t{ms} * 1000;
}

void FakeClock::sleepMicros(uint32_t micros) {
  std::lock_guard lock(mutex_);
  sleepsMicros_.push_back(micros);
  micros_ += micros;
}

void FakeClock::yield() {
  advanceMicros(1);
}

void FakeClock::beginTimerPeriod() {
  std::lock_guard lock(mutex_);
  ++timerPeriodDepth_;
}

void FakeClock::endTimerPeriod() {
  std::lock_guard lock(mutex_);
  --timerPeriodDepth_;
}

double FakeClock::nowDays() {
  // 2024-01-01 00:00 plus the elapsed fake time.
  std::lock_guard lock(mutex_);
  return 45292.0 + static_cast<double>(micros_) / 86'400'000'000.0;
}

int64_t FakeClock::nowMicros() const {
  std::lock_guard lock(mutex_);
  return micros_;
}

void FakeClock::advanceMicros(int64_t micros) {
  std::lock_guard lock(mutex_);
  micros_ += micros;
}

std::vector<uint32_t> FakeClock::sleepsMs() const {
  std::lock_guard lock(mutex_);
  return sleepsMs_;
}

std::vector<uint32_t> FakeClock::sleepsMicros() const {
  std::lock_guard lock(mutex_);
  return sleepsMicros_;
}

int FakeClock::timerPeriodDepth() const {
  std::lock_guard lock(mutex_);
  return timerPeriodDepth_;
}

void FakeClock::setCounterReadMicros(int64_t micros) {
  std::lock_guard lock(mutex_);
  counterReadMicros_ = micros;
}

}  // namespace loopmon::testing
