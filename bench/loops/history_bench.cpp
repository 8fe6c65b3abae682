// Feeds the loop history with a day of readings of 20 noisy loops at a 1 s
// period (some opening now and then) and prints the readings per second it
// takes in, the cost of one reading against that reading's time on the wire,
// and what the kept history takes in memory. Then the window's path: the main
// window model reading a simulated device through its cycle with the wire
// taking no time, so that the figure is what the model, the cycle, the
// session and the history together take in, and the history's share of it.
//
//   history_bench [days]   (default 1)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "desktop/main_window_model.h"
#include "fake_platform.h"
#include "loops/loop_history.h"
#include "session/bus_runner.h"
#include "session/session.h"
#include "sim/device_model.h"

using namespace loopmon;

namespace {

// A loop ADC request (6 bytes and checksum) and its 6-byte answer at 9600
// baud, 10 bits a byte: the least one reading of the cycle can take.
constexpr double ReadingWireMicros = 13 * 10 * 1e6 / 9600;

// The main window with nothing to show; the search gives device 9.
struct QuietWindow : MainWindowView {
  void showCaption(const std::string&) override {}
  void showDeviceLabel(const std::string&) override {}
  void showReadControls(bool, bool, bool) override {}
  void showPeriodicDown(bool) override {}
  void showPeriod(int) override {}
  void showView(bool) override {}
  void showGrid() override {}
  void showGridCell(int, int) override {}
  void startTimer(int delayMs) override { timerMs = delayMs; }
  void stopTimer() override { timerMs = -1; }
  void showMessage(const std::string&) override {}
  uint8_t runSearchDialog() override { return 9; }
  void showPasswordDialog() override {}
  int timerMs = -1;
};

// Readings per second through the main window model's periodic reading.
double windowReadingsPerSecond(int passes, size_t& historyBytes) {
  sim::SimulatedBus simulated(sim::parseScenario(
      "[bus]\nseed = 3\n[device 9]\ntype = 1\nversion = 160\nloop.3 = script 96 0 96 255\n"));
  testing::FakePlatform fake;
  fake.line->setResponder([&](const Bytes& request) { return simulated.respond(request); });
  TRSSession session(fake.platform());
  session.SetDeviceType(9, 1);
  session.SetDeviceVersion(9, 160);
  InlineBus bus(session);
  const CoefficientsStore store("/nonexistent-folder/ohmgauge.kft", ',');
  QuietWindow view;
  MainWindowModel model(view, bus, store, ',');
  model.searchClicked();
  model.periodicClicked(true);
  const auto began = std::chrono::steady_clock::now();
  for (int pass = 0; pass < passes; ++pass) {
    // The period's wait is the timer's business; here it ends at once.
    do model.timerFired();
    while (view.timerMs == TickIntervalMs);
  }
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  model.periodicClicked(false);
  size_t readings = 0;
  for (const LoopKey& key : model.history().Loops())
    readings += model.history().Summary(key)->readings;
  historyBytes = model.history().MemoryBytes();
  return static_cast<double>(readings) / elapsed;
}

}  // namespace

int main(int argc, char** argv) {
  const int days = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
  constexpr int Loops = 20;
  const long long seconds = 86'400LL * days;
  const Coefficients coefficients{408, -1};

  // The readings are made up front, so that only the history is timed.
  std::mt19937 random(11);
  std::vector<uint8_t> adc(static_cast<size_t>(seconds * Loops));
  for (long long second = 0; second < seconds; ++second) {
    for (int loop = 0; loop < Loops; ++loop) {
      int value = 90 + loop + std::uniform_int_distribution<int>(-4, 4)(random);
      if (loop % 5 == 0 && second % 3600 < 30) value = 0;
      adc[static_cast<size_t>(second * Loops + loop)] = static_cast<uint8_t>(value);
    }
  }

  LoopHistory history;
  const WallTime start = std::chrono::system_clock::now();
  const auto began = std::chrono::steady_clock::now();
  for (long long second = 0; second < seconds; ++second) {
    for (int loop = 0; loop < Loops; ++loop) {
      history.Record(AdcReading(1, loop + 1, start + std::chrono::seconds(second),
                                adc[static_cast<size_t>(second * Loops + loop)], coefficients));
    }
  }
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  const double readings = static_cast<double>(adc.size());
  const double perReadingMicros = elapsed * 1e6 / readings;

  std::printf("readings                 %.0f (%d loops, %d day(s) at 1 s)\n", readings, Loops,
              days);
  std::printf("taken in                 %.0f readings/s\n", readings / elapsed);
  std::printf("per reading              %.3f us = %.5f%% of its %.0f us on the wire\n",
              perReadingMicros, 100 * perReadingMicros / ReadingWireMicros, ReadingWireMicros);
  std::printf("kept                     %.2f MB\n", history.MemoryBytes() / 1048576.0);

  constexpr int Passes = 2000;
  size_t windowBytes = 0;
  const double windowRate = windowReadingsPerSecond(Passes, windowBytes);
  const double windowMicros = 1e6 / windowRate;
  std::printf("window model             %.0f readings/s (%d passes of %d loops, no wire time)\n",
              windowRate, Passes, Loops);
  std::printf("per reading              %.2f us, the history's own %.3f us of it (%.1f%%)\n",
              windowMicros, perReadingMicros, 100 * perReadingMicros / windowMicros);
  std::printf("against the wire         %.3f%% of a reading's %.0f us\n",
              100 * windowMicros / ReadingWireMicros, ReadingWireMicros);
  std::printf("kept by the window       %.2f MB\n", windowBytes / 1048576.0);
  return 0;
}
