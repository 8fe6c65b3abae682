#include "platform/system/clock.h"

#include <algorithm>

namespace loopmon {

// A sleep may end later than asked: by the system timer's granularity (1 ms on
// Windows with the raised resolution) plus the time the scheduler takes to run
// the thread again. Clocks that sleep more precisely say so with a smaller
// spin margin.
void Clock::sleepUntilCounter(int64_t target) {
  const int64_t frequency = counterFrequency();
  const int64_t remaining = target - counter();
  if (frequency <= 0 || remaining <= 0) return;
  const double micros = static_cast<double>(remaining) * 1e6 / static_cast<double>(frequency);
  sleepMicros(static_cast<uint32_t>(std::min(micros, 4e9)));
}

void waitForCounter(Clock& clock, int64_t target) {
  const int64_t frequency = clock.counterFrequency();
  if (frequency <= 0) return;
  const int64_t spinCounts = frequency * clock.spinMarginMicros() / 1'000'000;
  if (target - clock.counter() > spinCounts) clock.sleepUntilCounter(target - spinCounts);
  while (clock.counter() < target) {
  }
}

}  // namespace loopmon
