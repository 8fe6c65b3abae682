#pragma once
// Time sources of the bus code: a millisecond tick count, a high-resolution
// counter, sleeps, the system timer resolution and the wall-clock date-time.

#include <cstdint>
#include <memory>

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
  // Sleeps until the counter reaches about `target`: it may wake up to
  // spinMarginMicros() late. This one sleeps for the difference.
  virtual void sleepUntilCounter(int64_t target);
  // How long before a moment a timed wait stops sleeping and spins: as much
  // as this clock's sleeps may overshoot.
  virtual int64_t spinMarginMicros() const { return 1500; }
  // Gives up the rest of the time slice.
  virtual void yield() = 0;
  virtual void beginTimerPeriod() = 0;
  virtual void endTimerPeriod() = 0;
  // Local date-time in days since 1899-12-30 (the spreadsheet epoch).
  virtual double nowDays() = 0;
};

// Waits until the counter reaches `target`: sleeps until the clock's spin
// margin before it and spins only that last stretch, so the moment is hit to
// the counter's precision without burning a core for the whole wait.
void waitForCounter(Clock& clock, int64_t target);

std::shared_ptr<Clock> systemClock();

}  // namespace loopmon
