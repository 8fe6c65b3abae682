// The history fed from the bus thread while the window thread draws from it.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <sstream>
#include <thread>

#include "loops/loop_history.h"

namespace loopmon {
namespace {

TEST(LoopHistoryThreadsTest, ReadersSeeOrderedSeriesWhileReadingsArrive) {
  LoopHistory history(LoopHistory::Limits{64, 256});
  const WallTime start = WallTime(std::chrono::hours(24 * 20'000));
  constexpr int Loops = 4;
  constexpr int Readings = 4000;
  std::atomic<bool> done{false};
  std::thread feeder([&] {
    for (int i = 0; i < Readings * Loops; ++i) {
      // Open for 10 of every 100 readings.
      const auto adc = static_cast<uint8_t>(i / Loops % 100 < 10 ? 0 : 100 + i % 3);
      history.Record(AdcReading(1, 1 + i % Loops, start + std::chrono::seconds(i / Loops), adc,
                                Coefficients{408, -1}));
    }
    done = true;
  });
  int rounds = 0;
  while (!done || rounds == 0) {
    for (const LoopKey& key : history.Loops()) {
      const int movesBefore = history.Summary(key)->moves;
      const std::vector<HistoryPoint> series = history.Series(key);
      ASSERT_FALSE(series.empty());
      ASSERT_TRUE(std::is_sorted(series.begin(), series.end(),
                                 [](const auto& a, const auto& b) { return a.time < b.time; }));
      EXPECT_GE(history.Moves(key).size(), static_cast<size_t>(movesBefore));
    }
    std::ostringstream csv;
    history.WriteCsv(csv, std::nullopt, '.');
    ++rounds;
  }
  feeder.join();
  for (const LoopKey& key : history.Loops()) {
    EXPECT_EQ(history.Summary(key)->readings, static_cast<size_t>(Readings));
    // Open from the start (no move), then out and in once per hundred readings.
    EXPECT_EQ(history.Summary(key)->moves, 2 * (Readings / 100) - 1);
  }
}

}  // namespace
}  // namespace loopmon
