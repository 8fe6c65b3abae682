// 72 hours of a flapping bus through the watch's event log: one line of five
// devices with four loops each, read every 0.75 s (a pass of such a line on
// the wire), so 345 600 passes. Time is simulated: each pass moves a clock
// of the bench's own on by the period, and the log stamps its lines with
// that clock, so the run takes as long as the writing does. The loops'
// readings come from a seeded random source: some steady, some changing now
// and then, some near the flapping thresholds (the log's worst case, as each
// change is a line of its own until the loop counts as flapping), some
// flapping outright, and two that flap only in the afternoon rain; one
// device drops off the bus now and then. Each reading goes through the
// watch's own loop judgment (LoopWatch) and its log writer (EventLog).
// Prints what was written against the bound the folder must stay within.
//
//   watch_log_bench [HOURS [BOUND_MB]]     (TMPDIR=/dev/shm spares the disk)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "record/site_record.h"
#include "scoped_temp_dir.h"
#include "watch/event_log.h"
#include "watch/loop_watch.h"

using namespace loopmon;

namespace {

constexpr auto Period = std::chrono::milliseconds(750);
constexpr int Devices = 5;
constexpr int Loops = 4;
// The chance that a loop's condition changes from one reading to the next;
// a negative one flaps in the afternoon (14:00 to 18:00) and is steady else.
constexpr double ChangeChance[Devices * Loops] = {0,   0,    0.001, 0.01, 0.02, 0.05, 0.05,
                                                  0.1, 0.1,  0.15,  0.15, 0.2,  0.2,  0.25,
                                                  0.3, 0.35, 0.5,   0.7,  -1,   -1};
constexpr double RainChance = 0.5;
// The last device leaves the bus for a few passes now and then.
constexpr double LeaveChance = 1.0 / 5000;
constexpr int AwayPasses = 8;

uint64_t folderBytes(const std::string& folder) {
  uint64_t total = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) total += entry.file_size();
  return total;
}

LoopRecord reading(int loop, bool open) {
  LoopRecord record;
  record.loop = loop;
  record.condition = open ? LoopCondition::Open : LoopCondition::Normal;
  record.adc = open ? 0 : 100;
  if (!open) record.kohm = 3.08;
  if (open) record.text = "Обрыв";
  record.state = open ? "тревога" : "на охране";
  return record;
}

}  // namespace

int main(int argc, char** argv) {
  const int hours = argc > 1 ? std::max(1, std::atoi(argv[1])) : 72;
  LogBound bound;
  if (argc > 2) bound.totalBytes = std::max(1ull, std::strtoull(argv[2], nullptr, 10)) << 20;
  testing::ScopedTempDir folder;
  const std::string line = "/dev/ttyUSB0";

  // Midnight, a day like any other.
  std::chrono::system_clock::time_point now{std::chrono::hours(24 * 20'000)};
  const auto end = now + std::chrono::hours(hours);
  EventLog log(folder.path(), bound, [&now] { return now; });

  std::mt19937_64 random(20'261'208);
  std::uniform_real_distribution<double> chance(0, 1);
  std::map<std::pair<int, int>, LoopWatch> loops;
  std::map<std::pair<int, int>, bool> open;
  std::map<std::string, uint64_t> events;
  uint64_t written = 0, largest = 0, passes = 0;
  int away = 0;
  auto write = [&](Json event) {
    ++events[event["event"].get<std::string>()];
    written += JsonText(event).size() + 40;  // with the time the log puts in front
    log.write(std::move(event));
    largest = std::max(largest, folderBytes(folder.path()));
  };

  const auto started = std::chrono::steady_clock::now();
  write({{"event", "started"}, {"site", "depot"}, {"ports", {line}}, {"period_s", 0}});
  for (; now < end; now += Period, ++passes) {
    const int hourOfDay = static_cast<int>(
        std::chrono::duration_cast<std::chrono::hours>(now.time_since_epoch()).count() % 24);
    const bool raining = hourOfDay >= 14 && hourOfDay < 18;
    if (away > 0 && --away == 0) write({{"event", "device back"}, {"line", line}, {"addr", 5}});
    if (away == 0 && chance(random) < LeaveChance) {
      away = AwayPasses;
      write({{"event", "device gone"}, {"line", line}, {"addr", 5}});
    }
    for (int device = 1; device <= Devices; ++device) {
      if (device == Devices && away > 0) continue;
      for (int loop = 1; loop <= Loops; ++loop) {
        const double given = ChangeChance[(device - 1) * Loops + loop - 1];
        const double change = given >= 0 ? given : raining ? RainChance : 0;
        bool& isOpen = open[{device, loop}];
        if (chance(random) < change) isOpen = !isOpen;
        LoopWatch& watch = loops[{device, loop}];
        if (auto made = watch.take(reading(loop, isOpen))) {
          write(LoopEvent(line, static_cast<uint8_t>(device), loop, std::move(*made)));
        }
      }
    }
  }
  write({{"event", "stopped"}, {"reason", "terminated"}});
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const uint64_t left = folderBytes(folder.path());
  largest = std::max(largest, left);

  std::printf("%d hours of a flapping bus (%llu passes of %d loops, one each %.2f s)\n", hours,
              static_cast<unsigned long long>(passes), Devices * Loops, Period.count() / 1000.0);
  for (const auto& [name, count] : events) {
    std::printf("  %-18s %10llu\n", name.c_str(), static_cast<unsigned long long>(count));
  }
  std::printf("  written            %10.1f MB (%.1f MB a day)\n", written / 1048576.0,
              written / 1048576.0 * 24 / hours);
  std::printf("  log folder now     %10.1f MB in %d files\n", left / 1048576.0,
              static_cast<int>(std::distance(std::filesystem::directory_iterator(folder.path()),
                                             std::filesystem::directory_iterator{})));
  std::printf("  largest seen       %10.1f MB (bound %.1f MB: %s)\n", largest / 1048576.0,
              bound.totalBytes / 1048576.0, largest <= bound.totalBytes ? "within" : "OVER");
  std::printf("  real time          %10.1f s\n", seconds);
  return largest <= bound.totalBytes ? 0 : 1;
}
