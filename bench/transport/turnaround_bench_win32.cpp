// The timed send's wait on Windows, which has no pseudo-terminal to drive the
// engine against: the wait alone, against the performance counter, for the
// moments a request's turnaround falls on (seven bytes at 9600 baud and a
// tail). How late it ends (its turnaround error) and the processor time it
// takes, for the fixed wait (the clock's own spin margin after a sleep) and
// the one that learns its margin from its own sleeps, in alternating blocks
// (fixed, learning, learning, fixed, ...) so that the machine's drift weighs
// on both alike; on an idle machine, then under a busy thread per core at the
// lowest priority. Under Wine the figures are Wine's and say so.
//
//   turnaround_bench [waits per kind and machine state] [block]
//                    (default 1000 in blocks of 100)

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "platform/system/clock.h"
#include "recording_clock.h"

using namespace loopmon;
using loopmon::bench::RecordingClock;

namespace {

// A request's seven bytes on the wire at 9600 baud (10 bits each) and a tail
// of a character: the stretch the timed send waits out before the turnaround.
constexpr int64_t WaitMicros = 7 * 1042 + 1042;
// Between two waits, the time an answer and the next request take.
constexpr DWORD PauseMs = 3;

int64_t threadCpuNanos() {
  FILETIME created, ended, kernel, user;
  ::GetThreadTimes(::GetCurrentThread(), &created, &ended, &kernel, &user);
  const auto nanos = [](const FILETIME& t) {
    return ((int64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) * 100;
  };
  return nanos(kernel) + nanos(user);
}

bool underWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

struct Figures {
  std::vector<double> lateMicros;
  std::vector<double> cpuMicros;
};

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(p * values.size()))];
}

// The thread's processor time comes in the system's ticks (Wine's: coarse),
// so it is told as the mean over all waits of a kind.
void printFigures(const char* kind, const Figures& f) {
  double cpuMicros = 0;
  for (const double micros : f.cpuMicros) cpuMicros += micros;
  cpuMicros /= static_cast<double>(f.cpuMicros.size());
  std::printf(
      "  %-9s late, us: median %7.1f p99 %7.1f max %8.1f | cpu per wait %7.1f us (%.1f %%)\n", kind,
      percentile(f.lateMicros, 0.5), percentile(f.lateMicros, 0.99),
      *std::max_element(f.lateMicros.begin(), f.lateMicros.end()), cpuMicros,
      100 * cpuMicros / static_cast<double>(WaitMicros));
}

void measure(RecordingClock& clock, int waits, int block, Figures& fixed, Figures& learning) {
  const int64_t frequency = clock.counterFrequency();
  const FineTimerPeriod finePeriod(clock);
  for (int i = 0; i < 2 * waits; ++i) {
    // Blocks in the order fixed, learning, learning, fixed, ...
    const int blockIndex = i / block;
    clock.fixedMargin = blockIndex % 4 == 0 || blockIndex % 4 == 3;
    Figures& into = clock.fixedMargin ? fixed : learning;
    const int64_t target = clock.counter() + WaitMicros * frequency / 1'000'000;
    const int64_t cpuBefore = threadCpuNanos();
    waitForCounter(clock, target);
    const int64_t ended = clock.counter();
    into.cpuMicros.push_back(static_cast<double>(threadCpuNanos() - cpuBefore) / 1e3);
    into.lateMicros.push_back(static_cast<double>(ended - target) * 1e6 /
                              static_cast<double>(frequency));
    ::Sleep(PauseMs);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int waits = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
  const int block = argc > 2 ? std::max(1, std::atoi(argv[2])) : 100;
  RecordingClock clock(systemClock());
  std::printf("the timed send's wait of %.3f ms against the counter (%lld counts/s)%s\n",
              WaitMicros / 1e3, static_cast<long long>(clock.counterFrequency()),
              underWine() ? ", figures of Wine, not of Windows" : "");
  for (const bool busy : {false, true}) {
    std::atomic<bool> stop = false;
    std::vector<std::thread> burners;
    if (busy) {
      for (unsigned core = 0; core < std::max(1u, std::thread::hardware_concurrency()); ++core) {
        burners.emplace_back([&stop] {
          ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_IDLE);
          while (!stop) {
          }
        });
      }
    }
    Figures fixed, learning;
    measure(clock, waits, block, fixed, learning);
    stop = true;
    for (std::thread& burner : burners) burner.join();
    std::printf("%s, %d waits each:\n",
                busy ? "a busy thread per core at the lowest priority" : "idle machine", waits);
    printFigures("fixed", fixed);
    printFigures("learning", learning);
    std::printf("  learned spin margin now %lld us (the clock's own %lld us)\n",
                static_cast<long long>(clock.Clock::spinMarginMicros()),
                static_cast<long long>(clock.clockSpinMarginMicros()));
  }
  return 0;
}
