#pragma once
// Time sources of the bus code: a millisecond tick count, a high-resolution
// counter, sleeps, the system timer resolution and the wall-clock date-time.

#include <cstdint>
#include <memory>

#include "platform/system/wake_lateness.h"

namespace loopmon {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary start; wraps like GetTickCount.
  virtual uint32_t tickCountMs() = 0;
  // High-resolution counter and its frequency in counts per second (0 = none).
  virtual int64_t counter() = 0;
  virtual int64_t counterFrequency() = 0;
  virtual void sleepMs(uint32_t ms) = 0;
  virtual void sleepMicros(uint32_t micros) = 0;
  // Sleeps until the counter reaches about `target`: it may wake late, by
  // as much as wakeLateness() has seen. This one sleeps for the difference.
  virtual void sleepUntilCounter(int64_t target);
  // What this clock's sleeps overshoot on any machine: the least a timed
  // wait spins, and all it spins where its sleeps say nothing better. This
  // covers the wake-up latency of an idle machine (tens of microseconds)
  // with room to spare.
  virtual int64_t clockSpinMarginMicros() const { return 150; }
  // How long before a moment a timed wait stops sleeping and spins: as much
  // as this clock's sleeps have been seen to overshoot, within reason.
  virtual int64_t spinMarginMicros() const {
    return wakeLateness_.spinMarginMicros(clockSpinMarginMicros());
  }
  // What the timed waits on this clock have learned of its sleeps.
  WakeLateness& wakeLateness() { return wakeLateness_; }
  // Gives up the rest of the time slice.
  virtual void yield() = 0;
  virtual void beginTimerPeriod() = 0;
  virtual void endTimerPeriod() = 0;
  // Local date-time in days since 1899-12-30 (the spreadsheet epoch).
  virtual double nowDays() = 0;

 private:
  WakeLateness wakeLateness_;
};

// Keeps the system timer at its finest period while an exchange is on the
// line, and only then: a finer period costs the whole machine power.
class FineTimerPeriod {
 public:
  explicit FineTimerPeriod(Clock& clock) : clock_(clock) { clock_.beginTimerPeriod(); }
  ~FineTimerPeriod() { clock_.endTimerPeriod(); }
  FineTimerPeriod(const FineTimerPeriod&) = delete;
  FineTimerPeriod& operator=(const FineTimerPeriod&) = delete;

 private:
  Clock& clock_;
};

// Waits until the counter reaches `target`: sleeps until the clock's spin
// margin before it and spins only that last stretch, so the moment is hit to
// the counter's precision without burning a core for the whole wait. Notes
// how late the sleep woke and whether the spin was preempted, which sets the
// margin of the waits that follow.
void waitForCounter(Clock& clock, int64_t target);
// Sleeps until about `target`, for a moment nothing on the line is timed to:
// an ordinary sleep, which the system may end late or batch with others'.
void sleepUntilAbout(Clock& clock, int64_t target);

std::shared_ptr<Clock> systemClock();

}  // namespace loopmon
