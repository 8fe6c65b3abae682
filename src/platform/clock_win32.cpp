#include "platform/clock.h"
#include "platform/text_win32.h"

#include <mmsystem.h>

namespace loopmon {
namespace {

using SwitchToThreadFn = BOOL(WINAPI*)();

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
};

}  // namespace

std::shared_ptr<Clock> systemClock() {
  static const std::shared_ptr<Clock> clock = std::make_shared<Win32Clock>();
  return clock;
}

}  // namespace loopmon
