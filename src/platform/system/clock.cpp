#include "platform/system/clock.h"

#include <algorithm>

namespace loopmon {

namespace {

constexpr int64_t PreemptedSpinMicros = 100;

}  // namespace

// A sleep may end later than asked: by the system timer's granularity (1 ms on
// Windows with the raised resolution) plus the time the scheduler takes to run
// the thread again; the waits learn by how much.
void Clock::sleepUntilCounter(int64_t target) {
  sleepUntilAbout(*this, target);
}

void sleepUntilAbout(Clock& clock, int64_t target) {
  const int64_t frequency = clock.counterFrequency();
  const int64_t remaining = target - clock.counter();
  if (frequency <= 0 || remaining <= 0) return;
  const double micros = static_cast<double>(remaining) * 1e6 / static_cast<double>(frequency);
  clock.sleepMicros(static_cast<uint32_t>(std::min(micros, 4e9)));
}

void waitForCounter(Clock& clock, int64_t target) {
  const int64_t frequency = clock.counterFrequency();
  if (frequency <= 0) return;
  const int64_t wakeAt = target - frequency * clock.spinMarginMicros() / 1'000'000;
  int64_t now = clock.counter();
  if (wakeAt <= now) {
    while (clock.counter() < target) {
    }
    return;
  }
  clock.sleepUntilCounter(wakeAt);
  now = clock.counter();
  const int64_t lateMicros = (now - wakeAt) * 1'000'000 / frequency;
  // Between two reads of the counter the spin takes well under a
  // microsecond; a longer gap is time the thread was not running.
  const int64_t preemptedCounts = frequency * PreemptedSpinMicros / 1'000'000;
  bool preempted = false;
  while (now < target) {
    const int64_t next = clock.counter();
    preempted = preempted || next - now > preemptedCounts;
    now = next;
  }
  clock.wakeLateness().note(lateMicros, preempted);
}

}  // namespace loopmon
