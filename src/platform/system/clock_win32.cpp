#include "platform/system/clock.h"
#include "platform/system/windows_api_win32.h"

#include <mmsystem.h>

namespace loopmon {
namespace {

using SwitchToThreadFn = BOOL(WINAPI*)();

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

// A high-resolution waitable timer (Windows 10 1803 and later) wakes within a
// few hundred microseconds of its due time, independent of the system timer's
// period; with the plain Sleep the margin must cover a whole period and more.
// The waits spin longer where they see their sleeps wake later.
constexpr int64_t HighResolutionSpinMicros = 500;
constexpr int64_t SleepSpinMicros = 1500;

// One timer per thread: the clock is shared, and a timer set again by another
// thread would wake the first one at the wrong moment.
class ThreadTimer {
 public:
  ThreadTimer()
      : handle_(CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                       TIMER_ALL_ACCESS)) {}
  ~ThreadTimer() {
    if (handle_) CloseHandle(handle_);
  }
  ThreadTimer(const ThreadTimer&) = delete;
  ThreadTimer& operator=(const ThreadTimer&) = delete;
  HANDLE handle() const { return handle_; }

 private:
  HANDLE handle_;
};

HANDLE threadTimer() {
  thread_local ThreadTimer timer;
  return timer.handle();
}

// Days from 1601-01-01, where FILETIME counts from, to 1899-12-30.
constexpr double FileTimeEpochDays = 109205.0;
constexpr double FileTimeTicksPerDay = 864000000000.0;

class Win32Clock final : public Clock {
 public:
  Win32Clock() {
    LARGE_INTEGER frequency{};
    frequency_ = QueryPerformanceFrequency(&frequency) ? frequency.QuadPart : 0;
    // Looked up rather than linked: systems of the 9x family do not have it.
    switchToThread_ = win32::procAddress<SwitchToThreadFn>(L"kernel32.dll", "SwitchToThread");
    highResolution_ = threadTimer() != nullptr;
  }

  uint32_t tickCountMs() override { return GetTickCount(); }

  int64_t counter() override {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return now.QuadPart;
  }

  int64_t counterFrequency() override { return frequency_; }

  void sleepMs(uint32_t ms) override { Sleep(ms); }

  // Sleep only knows milliseconds: whole ones are slept, the rest is waited
  // out on the counter so the pause is never shorter than asked.
  void sleepMicros(uint32_t micros) override {
    if (frequency_ == 0) {
      Sleep((micros + 999) / 1000);
      return;
    }
    const int64_t end = counter() + static_cast<int64_t>(micros) * frequency_ / 1000000;
    if (micros >= 1000) Sleep(micros / 1000);
    while (counter() < end) yield();
  }

  void sleepUntilCounter(int64_t target) override {
    const HANDLE timer = threadTimer();
    const int64_t remaining = target - counter();
    if (!timer || frequency_ == 0) {
      Clock::sleepUntilCounter(target);
      return;
    }
    if (remaining <= 0) return;
    LARGE_INTEGER due{};
    due.QuadPart = -(remaining * 10'000'000 / frequency_);  // relative, in 100 ns
    if (SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) {
      WaitForSingleObject(timer, INFINITE);
    }
  }

  int64_t clockSpinMarginMicros() const override {
    return highResolution_ ? HighResolutionSpinMicros : SleepSpinMicros;
  }

  void yield() override {
    if (switchToThread_) {
      switchToThread_();
    } else {
      Sleep(0);
    }
  }

  void beginTimerPeriod() override { timeBeginPeriod(1); }
  void endTimerPeriod() override { timeEndPeriod(1); }

  double nowDays() override {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    FILETIME fileTime{};
    SystemTimeToFileTime(&local, &fileTime);
    const uint64_t ticks =
        (static_cast<uint64_t>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
    return static_cast<double>(ticks) / FileTimeTicksPerDay - FileTimeEpochDays;
  }

 private:
  int64_t frequency_ = 0;
  SwitchToThreadFn switchToThread_ = nullptr;
  bool highResolution_ = false;
};

}  // namespace

std::shared_ptr<Clock> systemClock() {
  static const std::shared_ptr<Clock> clock = std::make_shared<Win32Clock>();
  return clock;
}

}  // namespace loopmon
