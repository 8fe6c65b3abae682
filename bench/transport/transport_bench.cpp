// Runs exchanges of the real engine against a device on a pseudo-terminal and
// prints how close the line turnaround comes to the moment the timed send
// computes (wire time of the bytes written plus TailInUS), and how much
// processor time the engine takes, overall and while it waits out the send.
// Two waits side by side: the fixed one (the clock's own spin margin after an
// absolute sleep) and the one that learns its margin from its own sleeps, in
// alternating blocks (fixed, learning, learning, fixed, ...) so that the order
// and the machine's drift weigh on both alike; on an idle machine, then under
// a busy thread per core at the lowest priority. Then, once, the padded send:
// how long the port's drain keeps the turnaround back after the writes,
// against tcdrain() on a terminal whose other end reads at once (anything
// above a few microseconds there is lateness).
//
//   transport_bench [exchanges per wait and machine state] [block]
//                   (default 1000 in blocks of 100)

#include <pthread.h>
#include <pty.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
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

// Threads that keep every core busy while they live, as a scanner or a build
// would on a field laptop, at the lowest priority there is (SCHED_IDLE, else
// nice 19): the engine and the simulated device, at the normal one, get a core
// whenever they are ready to run.
class BusyLoad {
 public:
  BusyLoad() {
    for (unsigned i = 0; i < cores(); ++i) {
      threads_.emplace_back([this] {
        const sched_param lowest{};
        if (::pthread_setschedparam(::pthread_self(), SCHED_IDLE, &lowest) != 0) {
          ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
        }
        while (!stop_.load(std::memory_order_relaxed)) {
        }
      });
    }
  }
  ~BusyLoad() {
    stop_ = true;
    for (std::thread& thread : threads_) thread.join();
  }
  BusyLoad(const BusyLoad&) = delete;
  BusyLoad& operator=(const BusyLoad&) = delete;

  static unsigned cores() { return std::max(1u, std::thread::hardware_concurrency()); }

 private:
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

unsigned coresForThisProcess() {
  cpu_set_t set;
  return ::sched_getaffinity(0, sizeof set, &set) == 0 ? static_cast<unsigned>(CPU_COUNT(&set))
                                                       : BusyLoad::cores();
}

// What the exchanges of one wait on one machine state came to.
struct Tally {
  std::vector<double> errorsMicros;
  std::vector<double> marginsMicros;  // the margin each timed send started with
  double cpu = 0, wall = 0, sendCpu = 0, sendWall = 0;
  int exchanges = 0;
  int lateTurns = 0;
  int unanswered = 0;
};

// One exchange on the clock `line` uses now, noted in `tally`. A failed one
// is a late turnaround when the line was released after the device began
// its answer (the receive purge took it), otherwise an answer that did not
// come within the read's time-outs.
void exchange(ProbedLine& line, BusState& bus, Tally& tally) {
  static const Bytes request{5, 6, 0, 13, 0, 0};
  const int64_t margin = line.clock->spinMarginMicros();
  line.record = Turnaround{};
  const int64_t cpuBefore = threadCpuNanos();
  const auto wallBefore = std::chrono::steady_clock::now();
  const bool answered = Transact(bus, request, 1);
  tally.wall +=
      std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - wallBefore)
          .count();
  tally.cpu += static_cast<double>(threadCpuNanos() - cpuBefore) / 1000.0;
  tally.marginsMicros.push_back(static_cast<double>(margin));
  ++tally.exchanges;
  const int64_t frequency = bus.CounterFrequency;
  const auto error = turnaroundErrorMicros(line.record, frequency, bus.Settings.TailInUS);
  const auto answerBegins =
      static_cast<double>(ProbedLine::AnswerDelay.count() - int64_t{bus.Settings.TailInUS});
  if (!answered) ++(error && *error >= answerBegins ? tally.lateTurns : tally.unanswered);
  if (!error) return;
  tally.errorsMicros.push_back(*error);
  tally.sendCpu += static_cast<double>(line.record.cpuAtRelease - line.record.cpuAtSend) / 1000.0;
  tally.sendWall += static_cast<double>(line.record.released - line.record.sendStart) * 1e6 /
                    static_cast<double>(frequency);
}

void printRow(const char* wait, const char* machine, const Tally& tally, Clock& clock) {
  if (tally.errorsMicros.empty()) {
    std::printf("%-8s %-6s no line release seen in %d exchanges\n", wait, machine, tally.exchanges);
    return;
  }
  const WakeLateness& lateness = clock.wakeLateness();
  char margin[24];
  std::snprintf(margin, sizeof margin, "%.0f..%.0f",
                *std::min_element(tally.marginsMicros.begin(), tally.marginsMicros.end()),
                *std::max_element(tally.marginsMicros.begin(), tally.marginsMicros.end()));
  std::printf("%-8s %-6s %7.1f %7.1f %8.1f %5.1f%% %5.1f%% %8lld %11s %9d %9d\n", wait, machine,
              percentile(tally.errorsMicros, 0.5), percentile(tally.errorsMicros, 0.99),
              *std::max_element(tally.errorsMicros.begin(), tally.errorsMicros.end()),
              100.0 * tally.cpu / tally.wall, 100.0 * tally.sendCpu / tally.sendWall,
              static_cast<long long>(lateness.highQuantileMicros().value_or(-1)), margin,
              tally.lateTurns, tally.unanswered);
}

// Both waits on one machine state, each on a clock that has learned nothing
// yet, in blocks of `block` exchanges: fixed, learning, learning, fixed, ...
void compareWaits(ProbedLine& line, BusState& bus, bool loaded, int exchanges, int block) {
  std::shared_ptr<RecordingClock> clocks[2] = {std::make_shared<RecordingClock>(systemClock()),
                                               std::make_shared<RecordingClock>(systemClock())};
  clocks[0]->fixedMargin = true;
  Tally tallies[2];
  std::optional<BusyLoad> load;
  if (loaded) load.emplace();
  for (int blockIndex = 0; tallies[0].exchanges < exchanges || tallies[1].exchanges < exchanges;
       ++blockIndex) {
    const int wait = blockIndex % 4 == 1 || blockIndex % 4 == 2 ? 1 : 0;
    line.clock = clocks[wait];
    bus.platform.clock = clocks[wait];
    for (int i = 0; i < block && tallies[wait].exchanges < exchanges; ++i) {
      exchange(line, bus, tallies[wait]);
    }
  }
  load.reset();
  const char* machine = loaded ? "loaded" : "idle";
  printRow("fixed", machine, tallies[0], *clocks[0]);
  printRow("learning", machine, tallies[1], *clocks[1]);
}

}  // namespace

int main(int argc, char** argv) {
  const int exchanges = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
  const int block = argc > 2 ? std::max(1, std::atoi(argv[2])) : 100;
  ProbedLine line;
  auto& [peer, clock, record, platform] = line;
  const Bytes request{5, 6, 0, 13, 0, 0};

  BusState bus(platform);
  // The settings of an NT-family system with an empty registry key.
  bus.Settings.StartTimeout = 4;
  bus.PortPath = peer.devicePath();
  Transact(bus, request, 1);  // opens the port, which no wait should pay for

  std::printf(
      "transport_bench: %d exchanges per wait and machine state, in alternating blocks of %d,\n"
      "over a pseudo-terminal; %u cores (%u for this process), nothing pinned. The simulated\n"
      "device is a thread of this process at the normal priority; loaded = a busy thread per\n"
      "core at the lowest priority.\n"
      "  error: line release (RTS cleared) minus the computed moment, us (median, p99, max)\n"
      "  CPU: the engine's share of the exchange's wall time; send: of the timed send's\n"
      "  late p99: how late the clock's sleeps woke (99 in 100 of the last %zu), us\n"
      "  margin: the spin margin the timed sends used, least..most, us\n"
      "  late turn: failed exchanges whose line was released after the device's answer began\n"
      "    (%lld us after the computed moment): the receive purge took the answer\n"
      "  no answer: failed exchanges whose line was released in time: the answer did not come\n"
      "    within the read's time-outs (the device's thread or the reading one got no core in\n"
      "    time), which is not the wait's doing\n",
      exchanges, block, BusyLoad::cores(), coresForThisProcess(), WakeLateness::Window,
      static_cast<long long>(ProbedLine::AnswerDelay.count() - int64_t{bus.Settings.TailInUS}));
  std::printf("%-8s %-6s %7s %7s %8s %6s %6s %8s %11s %9s %9s\n", "wait", "state", "median", "p99",
              "max", "CPU", "send", "late p99", "margin", "late turn", "no answer");
  compareWaits(line, bus, false, exchanges, block);
  compareWaits(line, bus, true, exchanges, block);

  // The padded send, as without a high-resolution counter or with USARTMode.
  clock = std::make_shared<RecordingClock>(systemClock());
  bus.platform.clock = clock;
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
