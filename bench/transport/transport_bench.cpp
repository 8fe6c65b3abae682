// Runs exchanges of the real engine against a device on a pseudo-terminal and
// prints how close the line turnaround comes to the moment the timed send
// computes (wire time of the bytes written plus TailInUS), and how much
// processor time the engine takes, overall and while it waits out the send.
// Twice, in one run on the same machine: with the wait of earlier versions
// (a relative sleep, then 1.5 ms of spinning) and with the clock's own.
// Then, once, the padded send: how long the port's drain keeps the turnaround back
// after the writes, against tcdrain() on a terminal whose other end reads
// at once (anything above a few microseconds there is lateness).
//
//   transport_bench [exchanges]   (default 200)

#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "pty_peer_posix.h"
#include "transport/bus_state.h"
#include "turnaround_probe.h"

using namespace loopmon;
using namespace loopmon::bench;

namespace {

void printSpread(const char* what, const std::vector<double>& micros) {
  if (micros.empty()) return;
  std::printf("  %s, us: median %.1f, p99 %.1f, max %.1f\n", what, percentile(micros, 0.5),
              percentile(micros, 0.99), *std::max_element(micros.begin(), micros.end()));
}

// tcdrain() on a terminal whose other end reads everything at once: the
// bytes are gone when the write returns, so its whole duration is lateness.
std::vector<double> tcdrainLateness(int rounds) {
  int master = -1, terminal = -1;
  std::vector<double> micros;
  if (::openpty(&master, &terminal, nullptr, nullptr, nullptr) != 0) return micros;
  termios raw{};
  ::tcgetattr(terminal, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(terminal, TCSANOW, &raw);
  std::thread reader([master] {
    uint8_t sink[256];
    while (::read(master, sink, sizeof sink) > 0) {
    }
  });
  const uint8_t frame[9] = {5, 6, 0, 13, 0, 0, 0x5A, 0xFF, 0xFF};
  for (int i = 0; i < rounds; ++i) {
    if (::write(terminal, frame, sizeof frame) != static_cast<ssize_t>(sizeof frame)) break;
    const auto before = std::chrono::steady_clock::now();
    ::tcdrain(terminal);
    micros.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - before)
            .count());
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ::close(terminal);
  reader.join();
  ::close(master);
  return micros;
}

}  // namespace

struct Run {
  const char* name;
  bool earlierWait;
};

int main(int argc, char** argv) {
  const int exchanges = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  // The device answers 2 ms after the request has left the wire.
  ProbedLine line;
  auto& [peer, clock, record, platform] = line;
  const Bytes request{5, 6, 0, 13, 0, 0};

  std::printf("transport_bench: %d exchanges per run over a pseudo-terminal\n", exchanges);
  for (const Run& run :
       {Run{"earlier wait (relative sleep, 1500 us spin)", true}, Run{"clock's wait", false}}) {
    clock->earlierWait = run.earlierWait;
    BusState bus(platform);
    // The settings of an NT-family system with an empty registry key.
    bus.Settings.StartTimeout = 4;
    bus.PortPath = peer.devicePath();
    const int64_t frequency = bus.CounterFrequency;

    std::vector<double> errorsMicros;
    std::vector<double> cpuMicros;
    double cpuTotal = 0, wallTotal = 0, waitCpu = 0, waitWall = 0;
    int failed = 0;
    for (int i = 0; i < exchanges; ++i) {
      record = Turnaround{};
      const int64_t cpuBefore = threadCpuNanos();
      const auto wallBefore = std::chrono::steady_clock::now();
      if (!Transact(bus, request, 1)) ++failed;
      const double wall =
          std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - wallBefore)
              .count();
      const double cpu = static_cast<double>(threadCpuNanos() - cpuBefore) / 1000.0;
      if (i == 0) continue;  // the first exchange also opens the port
      cpuMicros.push_back(cpu);
      cpuTotal += cpu;
      wallTotal += wall;
      const auto error = turnaroundErrorMicros(record, frequency, bus.Settings.TailInUS);
      if (!error) continue;
      errorsMicros.push_back(*error);
      waitCpu += static_cast<double>(record.cpuAtRelease - record.cpuAtSend) / 1000.0;
      waitWall += static_cast<double>(record.released - record.sendStart) * 1e6 /
                  static_cast<double>(frequency);
    }

    std::printf("%s, spin margin %lld us (%d failed)\n", run.name,
                static_cast<long long>(clock->spinMarginMicros()), failed);
    if (errorsMicros.empty()) return 1;
    std::printf(
        "  turnaround (RTS cleared) minus computed moment, us: median %.1f, p99 %.1f, "
        "min %.1f, max %.1f\n",
        percentile(errorsMicros, 0.5), percentile(errorsMicros, 0.99),
        *std::min_element(errorsMicros.begin(), errorsMicros.end()),
        *std::max_element(errorsMicros.begin(), errorsMicros.end()));
    const auto onTime = std::count_if(errorsMicros.begin(), errorsMicros.end(),
                                      [](double e) { return e >= 0 && e <= 100; });
    std::printf("  within 0..100 us of the computed moment: %.1f%%\n",
                100.0 * static_cast<double>(onTime) / static_cast<double>(errorsMicros.size()));
    std::printf("  engine CPU per exchange: median %.0f us; share of wall time %.1f%%\n",
                percentile(cpuMicros, 0.5), 100.0 * cpuTotal / wallTotal);
    std::printf(
        "  during the timed send (first write to line release): CPU share %.1f%% of %.0f us\n",
        100.0 * waitCpu / waitWall, waitWall / static_cast<double>(errorsMicros.size()));
  }

  // The padded send, as without a high-resolution counter or with USARTMode.
  BusState bus(platform);
  bus.Settings.StartTimeout = 4;
  bus.PortPath = peer.devicePath();
  const int64_t frequency = bus.CounterFrequency;
  bus.CounterFrequency = 0;
  std::vector<double> drainMicros;
  for (int i = 0; i < exchanges; ++i) {
    record = Turnaround{};
    Transact(bus, request, 1);
    if (record.drainCounts >= 0) {
      drainMicros.push_back(static_cast<double>(record.drainCounts) * 1e6 /
                            static_cast<double>(frequency));
    }
  }
  std::printf("padded send, %d exchanges: the drain before the turnaround\n", exchanges);
  printSpread("port drain (queue and line status, 100 us steps)", drainMicros);
  printSpread("tcdrain() on the same kind of terminal", tcdrainLateness(exchanges));
  return 0;
}
