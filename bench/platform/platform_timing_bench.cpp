// Figures of the POSIX platform layer's timing: how closely the timed send's
// wait hits its moment and what processor time it costs, how closely the
// emulated read time-outs end, and what one registry store access costs.

#include <fcntl.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/serial/serial_port.h"
#include "platform/store/registry.h"
#include "platform/system/clock.h"

namespace {

using namespace loopmon;
using Steady = std::chrono::steady_clock;

double micros(Steady::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

double processMicros() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

struct Spread {
  double median, p99, max;
};

Spread spreadOf(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return {v[v.size() / 2], v[v.size() * 99 / 100], v.back()};
}

void counterWaits() {
  std::printf("waitForCounter: lateness past the target and processor share of the wait\n");
  std::printf("%10s %12s %12s %12s %10s\n", "wait us", "median us", "p99 us", "max us", "cpu %");
  Clock& clock = *systemClock();
  for (int waitMicros : {300, 1000, 2000, 5000, 10000}) {
    std::vector<double> late;
    double cpu = 0, wall = 0;
    for (int i = 0; i < 200; ++i) {
      int64_t target = clock.counter() + clock.counterFrequency() * waitMicros / 1'000'000;
      double cpuStart = processMicros();
      auto start = Steady::now();
      waitForCounter(clock, target);
      int64_t after = clock.counter();
      cpu += processMicros() - cpuStart;
      wall += micros(Steady::now() - start);
      late.push_back(static_cast<double>(after - target) * 1e6 / clock.counterFrequency());
    }
    Spread s = spreadOf(late);
    std::printf("%10d %12.1f %12.1f %12.1f %10.0f\n", waitMicros, s.median, s.p99, s.max,
                100.0 * cpu / wall);
  }
}

void readTimeouts() {
  int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return;
  auto port = makeSerialPort();
  if (!port->open(::ptsname(master))) return;
  std::printf("\nread time-outs on a pseudo-terminal: time taken against the time-out\n");
  std::printf("%24s %10s %12s %12s %12s\n", "time-outs (ms)", "asked ms", "median ms", "p99 ms",
              "max ms");
  struct Case {
    const char* name;
    CommTimeouts timeouts;
    double askedMs;
  };
  for (const Case& c : {Case{"constant 30", {0, 0, 30}, 30}, Case{"constant 600", {0, 0, 600}, 600},
                        Case{"multiplier 2 x 6 + 10", {0, 2, 10}, 22}}) {
    port->setTimeouts(c.timeouts);
    std::vector<double> took;
    int rounds = c.askedMs > 100 ? 5 : 50;
    for (int i = 0; i < rounds; ++i) {
      uint8_t buffer[6];
      auto start = Steady::now();
      port->read(buffer, sizeof buffer);
      took.push_back(micros(Steady::now() - start) / 1000);
    }
    Spread s = spreadOf(took);
    std::printf("%24s %10.0f %12.2f %12.2f %12.2f\n", c.name, c.askedMs, s.median, s.p99, s.max);
  }
  port->close();
  ::close(master);
}

void registryAccess() {
  std::string dir = (std::filesystem::temp_directory_path() / "loopmon-bench-XXXXXX").string();
  if (!::mkdtemp(dir.data())) return;
  auto reg = openRegistryFile(dir + "/system.reg");
  const char* key = "Software\\TAVIX\\VELTA\\RS";
  reg->createKey(key);
  for (const char* name : {"IntervalTimeout", "TimeoutConstant", "CmdTimeoutConstant",
                           "DeviceTimeout", "StartTimeout", "TailInUS"}) {
    reg->write(key, name, RegValue::ofDword(30));
  }
  constexpr int kRounds = 200;
  auto start = Steady::now();
  for (int i = 0; i < kRounds; ++i) reg->read(key, "TailInUS");
  double readUs = micros(Steady::now() - start) / kRounds;
  start = Steady::now();
  for (int i = 0; i < kRounds / 10; ++i) reg->write(key, "TailInUS", RegValue::ofDword(i));
  double writeUs = micros(Steady::now() - start) / (kRounds / 10);
  std::printf("\nregistry store with 6 values: read %.0f us, write %.0f us (with fsync)\n", readUs,
              writeUs);
  std::filesystem::remove_all(dir);
}

}  // namespace

int main() {
  counterWaits();
  readTimeouts();
  registryAccess();
  return 0;
}
