// One loopctl watch over many lines: N loopsim pseudo-terminals (default 64)
// with five devices of four loops each, watched for K passes (default 20).
// Prints the watch's CPU time as a share of one core, its peak memory, and
// each line's pass against the wire time of the same exchanges: each request
// (7 bytes) and answer (6 bytes) at 1041 us a byte, the device's latency and
// the line's StartTimeout, for a presence request and eight loop requests a
// device.
//
//   watch_bench [LINES [PASSES]]

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "loopsim_process.h"
#include "platform/store/registry.h"
#include "scoped_temp_dir.h"
#include "transport/line_settings.h"

using namespace loopmon;

int main(int argc, char** argv) {
  const int lines = argc > 1 ? std::atoi(argv[1]) : 64;
  const int passes = argc > 2 ? std::atoi(argv[2]) : 20;
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
  std::printf("watch of %d lines x %d devices, %d passes (exit status %d)\n", lines, Devices,
              passes, status);
  std::printf("  wall time          %8.1f s\n", seconds);
  std::printf("  CPU                %8.1f s = %.1f %% of one core\n", cpu, 100 * cpu / seconds);
  std::printf("  peak memory        %8.1f MB\n", usage.ru_maxrss / 1024.0);
  std::printf(
      "  pass of a line     %8.1f ms (wire time %.1f ms, ratio %.2f; the first pass\n"
      "                     identifies the devices too)\n",
      1000 * seconds / passes, wirePassMs, 1000 * seconds / passes / wirePassMs);
  return status;
}
