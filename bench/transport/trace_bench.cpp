// What the bus trace costs the exchanges. Continuous exchanges of the real
// engine against a device on a pseudo-terminal, in one run and interleaved in
// rounds so that the machine's moods fall on all alike: with the trace off;
// on and written to a file by a reader thread as `loopctl --trace=FILE` does;
// and on with a reader standing in for the traffic window (every 100 ms it
// takes the new records, puts them in words into a list of the last 5000 and
// adds them to the per-device counters). Prints per mode the turnaround error
// (the line release minus the moment the timed send computed), the engine's
// processor time per exchange, the readers' time per record and the whole
// process's processor share; the cost of the trace is the difference to the
// run without it. On a busy machine the p99 is the scheduler's wake-up latency
// after the timed send's sleep (see transport_bench), whatever the trace does.
//
//   trace_bench [exchanges per mode]   (default 300)

#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "pty_peer_posix.h"
#include "traffic/trace_pump.h"
#include "traffic/trace_text.h"
#include "traffic/traffic_counters.h"
#include "transport/bus_state.h"
#include "turnaround_probe.h"

using namespace loopmon;
using namespace loopmon::bench;

namespace {

constexpr int Rounds = 10;

int64_t processCpuNanos() {
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// The processor time a reader spends on the records it takes, and how many.
struct ReaderCost {
  std::atomic<int64_t> nanos{0};
  std::atomic<int64_t> records{0};
  void add(int64_t since, size_t count) {
    nanos += threadCpuNanos() - since;
    records += static_cast<int64_t>(count);
  }
};

// The traffic window's model, without its painting: polled by a timer of
// its own thread.
class WindowStandIn {
 public:
  WindowStandIn(std::shared_ptr<TraceRing> ring, ReaderCost& cost)
      : ring_(std::move(ring)), cost_(cost), thread_([this] { run(); }) {}
  ~WindowStandIn() {
    {
      std::lock_guard guard(lock_);
      stop_ = true;
    }
    stopping_.notify_all();
    thread_.join();
  }

 private:
  void run() {
    std::vector<TraceRecord> batch;
    std::unique_lock guard(lock_);
    while (!stopping_.wait_for(guard, std::chrono::milliseconds(100), [this] { return stop_; })) {
      const int64_t since = threadCpuNanos();
      batch.clear();
      dropped_ += ring_->take(batch);
      for (const TraceRecord& record : batch) {
        counters_.add(record);
        lines_.push_back(traceText(record));
        if (lines_.size() > 5000) lines_.pop_front();
      }
      cost_.add(since, batch.size());
    }
  }

  std::shared_ptr<TraceRing> ring_;
  ReaderCost& cost_;
  std::mutex lock_;
  std::condition_variable stopping_;
  bool stop_ = false;
  std::deque<std::string> lines_;
  TrafficCounters counters_;
  uint64_t dropped_ = 0;
  std::thread thread_;
};

enum class Mode { Off, File, Window };

struct Figures {
  std::vector<double> errorsMicros;
  std::vector<double> engineCpuMicros;
  double processCpuNanos = 0;
  double wallNanos = 0;
  int failed = 0;
  ReaderCost reader;
};

}  // namespace

int main(int argc, char** argv) {
  const int exchanges = argc > 1 ? std::max(Rounds, std::atoi(argv[1])) : 300;
  ProbedLine line;
  auto& [peer, clock, record, platform] = line;
  BusState bus(platform);
  bus.Settings.StartTimeout = 4;
  bus.PortPath = peer.devicePath();
  const Bytes request{5, 6, 0, 13, 0, 0};
  Transact(bus, request, 1);  // opens the port

  const auto file = std::filesystem::temp_directory_path() / "loopmon-trace-bench.txt";
  std::FILE* out = std::fopen(file.c_str(), "w");
  if (!out) return 1;
  Figures figures[3];
  std::printf("trace_bench: %d exchanges per mode over a pseudo-terminal, %d rounds\n", exchanges,
              Rounds);
  for (int round = 0; round < Rounds; ++round) {
    for (Mode mode : {Mode::Off, Mode::File, Mode::Window}) {
      std::unique_ptr<TracePump> pump;
      std::unique_ptr<WindowStandIn> window;
      if (mode == Mode::Off) {
        bus.Trace.stop();
      }
      Figures& f = figures[static_cast<int>(mode)];
      if (mode == Mode::File) {
        pump =
            std::make_unique<TracePump>(bus.Trace.start(), std::chrono::milliseconds(20),
                                        [out, &f](const std::vector<TraceRecord>& batch, uint64_t) {
                                          const int64_t since = threadCpuNanos();
                                          for (const TraceRecord& r : batch)
                                            std::fprintf(out, "%s\n", traceText(r).c_str());
                                          std::fflush(out);
                                          f.reader.add(since, batch.size());
                                        });
      } else if (mode == Mode::Window) {
        window = std::make_unique<WindowStandIn>(bus.Trace.start(), f.reader);
      }
      const int64_t cpuBefore = processCpuNanos();
      const auto wallBefore = std::chrono::steady_clock::now();
      for (int i = 0; i < exchanges / Rounds; ++i) {
        record = Turnaround{};
        const int64_t engineBefore = threadCpuNanos();
        if (!Transact(bus, request, 1)) ++f.failed;
        f.engineCpuMicros.push_back(static_cast<double>(threadCpuNanos() - engineBefore) / 1000.0);
        const auto error =
            turnaroundErrorMicros(record, bus.CounterFrequency, bus.Settings.TailInUS);
        if (error) f.errorsMicros.push_back(*error);
      }
      pump.reset();
      window.reset();
      f.processCpuNanos += static_cast<double>(processCpuNanos() - cpuBefore);
      f.wallNanos +=
          std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - wallBefore)
              .count();
    }
  }
  std::fclose(out);
  std::filesystem::remove(file);

  const char* names[] = {"trace off", "trace on, to a file", "trace on, window reader"};
  const double offShare = 100.0 * figures[0].processCpuNanos / figures[0].wallNanos;
  for (int mode = 0; mode < 3; ++mode) {
    const Figures& f = figures[mode];
    if (f.errorsMicros.empty()) return 1;
    const double share = 100.0 * f.processCpuNanos / f.wallNanos;
    std::printf("%s (%d failed)\n", names[mode], f.failed);
    std::printf("  turnaround minus computed moment, us: median %.1f, p99 %.1f, max %.1f\n",
                percentile(f.errorsMicros, 0.5), percentile(f.errorsMicros, 0.99),
                *std::max_element(f.errorsMicros.begin(), f.errorsMicros.end()));
    std::printf("  engine CPU per exchange: median %.1f us\n", percentile(f.engineCpuMicros, 0.5));
    if (f.reader.records > 0) {
      std::printf(
          "  reader CPU per record (taking, words, writing): %.1f us\n",
          static_cast<double>(f.reader.nanos) / 1000.0 / static_cast<double>(f.reader.records));
    }
    std::printf("  process CPU: %.2f%% of one core", share);
    if (mode > 0) std::printf(" (%+.2f points against trace off)", share - offShare);
    std::printf("\n");
  }
  return 0;
}
