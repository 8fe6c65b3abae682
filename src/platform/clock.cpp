#include "platform/clock.h"

#include <algorithm>

namespace loopmon {

namespace {
// A sleep may end later than asked: by the system timer's granularity (1 ms on
// Windows with the raised resolution) plus the time the scheduler takes to run
// the thread again. Waking this much early and spinning the rest keeps the
// moment exact while the processor sleeps through nearly all of a longer wait.
constexpr int64_t kSpinMicros = 1500;
}  // namespace

void waitForCounter(Clock& clock, int64_t target) {
  int64_t frequency = clock.counterFrequency();
  if (frequency <= 0) return;
  int64_t spinCounts = frequency * kSpinMicros / 1'000'000;
  int64_t remaining = target - clock.counter();
  if (remaining > spinCounts) {
    double sleepMicros = static_cast<double>(remaining - spinCounts) * 1e6 / frequency;
    clock.sleepMicros(static_cast<uint32_t>(std::min(sleepMicros, 4e9)));
  }
  while (clock.counter() < target) {
  }
}

}  // namespace loopmon
