// The history fed from the bus thread while the window thread draws from it.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "loops/loop_history.h"

namespace loopmon {
namespace {

TEST(LoopHistoryThreadsTest, ReadersSeeOrderedSeriesWhileReadingsArrive) {
  LoopHistory history(LoopHistory::Limits{64, 256});
  constexpr int Readings = 4000;
  std::atomic<bool> done{false};
  std::thread feeder([&] {
    for (int i = 0; i < Readings; ++i) {
      // Open for 10 of every 100 readings, from the first one on.
      const auto adc = static_cast<uint8_t>(i % 100 < 10 ? 0 : 100 + i % 3);
      history.Record(AdcReading(1, 1 + i % 2, WallTime(std::chrono::seconds(i)), adc, {408, -1}));
    }
    done = true;
  });
  while (!done) {
    for (const LoopKey& key : history.Loops()) {
      const std::vector<HistoryPoint> series = history.Series(key);
      ASSERT_TRUE(std::is_sorted(series.begin(), series.end(),
                                 [](const auto& a, const auto& b) { return a.time < b.time; }));
    }
  }
  feeder.join();
  for (const LoopKey& key : history.Loops()) {
    EXPECT_EQ(history.Summary(key)->moves, 2 * (Readings / 100) - 1);
  }
}

}  // namespace
}  // namespace loopmon
