// One loopctl watch over many lines: N loopsim pseudo-terminals (default 64)
// with five devices of four loops each, watched for K passes (default 20).
// Prints the watch's CPU time as a share of one core, its peak memory, and
// each line's pass against the wire time of the same exchanges: each request
// (7 bytes) and answer (6 bytes) at 1041 us a byte, the device's latency and
// the line's StartTimeout, for a presence request and eight loop requests a
// device. The pass is timed from the event log: from the last device found
// (the end of the first pass, which identifies the devices) to the "stopped"
// event, so the start of the processes and the search are left out.
//
// TURN says who turns the line round after each request: "rts" (default),
// the watch through RTS and DTR, timed to the microsecond; "self", a
// converter that turns it by itself (SmartPI), the usual USB converter.
//
// Last, the floor of a thread a line on this machine: as many threads as lines,
// each woken three times an exchange (the answer's first byte, its rest, the
// StartTimeout before the next request: the fewest an exchange of the
// converter's lines takes), doing nothing else.
//
//   watch_bench [LINES [PASSES [rts|self]]]

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "loopsim_process.h"
#include "platform/store/registry.h"
#include "record/json.h"
#include "scoped_temp_dir.h"
#include "transport/line_settings.h"

using namespace loopmon;

namespace {

// Milliseconds since midnight of the time an event log line begins with.
double logMillis(const Json& event) {
  const std::string time = event.value("time", "");
  int hours = 0, minutes = 0;
  double seconds = 0;
  std::sscanf(time.c_str() + 11, "%d:%d:%lf", &hours, &minutes, &seconds);
  return ((hours * 60 + minutes) * 60 + seconds) * 1000;
}

struct LogFigures {
  // The time of the passes after the first.
  double laterPassesMs = 0;
  // All lines together, from the "stopped" event.
  uint64_t requests = 0, retries = 0, silences = 0;
};

LogFigures logFigures(const std::string& logPath) {
  std::ifstream log(logPath);
  double lastFound = 0, stopped = 0;
  LogFigures figures;
  for (std::string line; std::getline(log, line);) {
    const Json event = ParseJson(line);
    if (event["event"] == "device found") lastFound = logMillis(event);
    if (event["event"] != "stopped") continue;
    stopped = logMillis(event);
    for (const Json& watched : event["lines"]) {
      figures.requests += watched["requests"].get<uint64_t>();
      figures.retries += watched["retries"].get<uint64_t>();
      figures.silences += watched["silences"].get<uint64_t>();
    }
  }
  const double span = stopped - lastFound;
  figures.laterPassesMs = span < 0 ? span + 86'400'000 : span;
  return figures;
}

// The share of one core that `threads` threads take when each only sleeps
// `periodMicros` over and over, for two seconds.
double wakeUpFloor(int threads, int64_t periodMicros) {
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  std::atomic<bool> stop = false;
  std::vector<std::thread> sleepers;
  for (int i = 0; i < threads; ++i) {
    sleepers.emplace_back([&] {
      while (!stop) std::this_thread::sleep_for(std::chrono::microseconds(periodMicros));
    });
  }
  constexpr double Seconds = 2;
  std::this_thread::sleep_for(std::chrono::duration<double>(Seconds));
  stop = true;
  for (std::thread& sleeper : sleepers) sleeper.join();
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  const auto seconds = [](const rusage& u) {
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec +
           u.ru_stime.tv_usec / 1e6;
  };
  return 100 * (seconds(after) - seconds(before)) / Seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const int lines = argc > 1 ? std::atoi(argv[1]) : 64;
  const int passes = argc > 2 ? std::max(2, std::atoi(argv[2])) : 20;
  const std::string turn = argc > 3 ? argv[3] : "rts";
  if (turn != "rts" && turn != "self") {
    std::fprintf(stderr, "watch_bench: TURN is rts or self, not %s\n", turn.c_str());
    return 2;
  }
  constexpr int Devices = 5;
  constexpr int LatencyMicros = 2000;
  constexpr int StartTimeoutMs = 1;
  testing::ScopedTempDir folder;
  testing::ScopedEnv config{"XDG_CONFIG_HOME", folder.file("config")};
  std::filesystem::create_directories(folder.file("config/loopmon"));
  {
    auto registry = openRegistryFile(folder.file("config/loopmon/system.reg"));
    registry->createKey(LineSettingsKey);
    registry->write(LineSettingsKey, "StartTimeout", RegValue::ofDword(StartTimeoutMs));
    if (turn == "self") registry->write(LineSettingsKey, "SmartPI", RegValue::ofString(""));
  }
  std::string scenario = "[bus]\nlatency-us = " + std::to_string(LatencyMicros) + "\n";
  for (int address = 1; address <= Devices; ++address) {
    scenario += "[device " + std::to_string(address) + "]\ntype = 4\nversion = 102\n";
  }
  std::ofstream(folder.file("bus.ini")) << scenario;
  std::vector<std::unique_ptr<testing::LoopsimProcess>> sims;
  std::vector<std::string> args{"watch",
                                "--addr",
                                "1-" + std::to_string(Devices),
                                "--passes",
                                std::to_string(passes),
                                "--log",
                                folder.file("log")};
  for (int line = 0; line < lines; ++line) {
    const std::string tty = folder.file("tty" + std::to_string(line));
    sims.push_back(std::make_unique<testing::LoopsimProcess>(
        LOOPSIM_PATH,
        std::vector<std::string>{"pty", "--scenario", folder.file("bus.ini"), "--link", tty}));
    while (sims.back()->readLine().rfind("loopsim: linked as", 0) != 0) {
    }
    args.insert(args.end(), {"--port", tty});
  }
  const auto started = std::chrono::steady_clock::now();
  testing::LoopsimProcess watch(LOOPCTL_PATH, args);
  const int status = watch.waitExit();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  const double cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                     usage.ru_stime.tv_usec / 1e6;
  const double exchangeMs = 13 * 1.041 + LatencyMicros / 1000.0 + StartTimeoutMs;
  const double wirePassMs = Devices * (1 + 4 * 2) * exchangeMs;
  std::printf("watch of %d lines x %d devices, %d passes, turned by %s (exit status %d)\n", lines,
              Devices, passes, turn == "self" ? "the converter" : "RTS", status);
  std::printf("  wall time          %8.1f s\n", seconds);
  std::printf("  CPU                %8.1f s = %.1f %% of one core\n", cpu, 100 * cpu / seconds);
  std::printf("  peak memory        %8.1f MB\n", usage.ru_maxrss / 1024.0);
  const LogFigures figures = logFigures(folder.file("log/watch.jsonl"));
  const double passMs = figures.laterPassesMs / (passes - 1);
  std::printf("  pass of a line     %8.1f ms (wire time %.1f ms, ratio %.2f; passes 2..%d)\n",
              passMs, wirePassMs, passMs / wirePassMs, passes);
  // A retry costs a read time-out: on a loaded machine a late turnaround or
  // a late simulator loses an answer now and then.
  std::printf("  requests           %8llu (retries %llu, silences %llu)\n",
              static_cast<unsigned long long>(figures.requests),
              static_cast<unsigned long long>(figures.retries),
              static_cast<unsigned long long>(figures.silences));
  const auto wakeMicros = static_cast<int64_t>(exchangeMs * 1000 / 3);
  std::printf("  floor of a thread a line: %.1f %% of one core (%d threads woken every %lld us)\n",
              wakeUpFloor(lines, wakeMicros), lines, static_cast<long long>(wakeMicros));
  return status;
}
