#include "platform/serial/read_deadline.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/system/deadline.h"

namespace loopmon {
namespace {

constexpr uint32_t Max = 0xFFFFFFFF;
const ReadDeadline::TimePoint T0{};

ReadDeadline::TimePoint at(int ms) {
  return T0 + std::chrono::milliseconds(ms);
}

ReadDeadline::Duration ms(int n) {
  return std::chrono::milliseconds(n);
}

TEST(ReadDeadline, TotalLimitIsMultiplierPerByteAndConstantFromTheStart) {
  ReadDeadline constantOnly({0, 0, 30}, 6, T0);
  EXPECT_EQ(constantOnly.remaining(at(0), 0), ms(30));
  constantOnly.bytesArrived(at(10));
  EXPECT_EQ(constantOnly.remaining(at(10), 3), ms(20));
  EXPECT_EQ(constantOnly.remaining(at(45), 3), ms(0));
  EXPECT_EQ(ReadDeadline({0, 5, 30}, 6, T0).remaining(at(0), 0), ms(60));
  EXPECT_EQ(ReadDeadline({0, 5, 0}, 6, T0).remaining(at(1), 0), ms(29));
}

// The interval counts from the last bytes that came, not from the read's
// start nor from its first bytes, and ends the read at its exact end.
TEST(ReadDeadline, IntervalCountsFromTheLatestBytesOnly) {
  struct Case {
    const char* what;
    CommTimeouts timeouts;
    std::vector<int> arrivalsMs;
    int nowMs;
    int remainingMs;
  };
  const Case cases[] = {
      {"only the 10 s bound before the first byte", {20, 0, 0}, {}, 5000, 5000},
      {"from the one byte", {20, 0, 0}, {100}, 110, 10},
      {"from the last of two", {20, 0, 0}, {100, 115}, 130, 5},
      {"a millisecond before its end", {20, 0, 0}, {100, 115}, 134, 1},
      {"at its end", {20, 0, 0}, {100, 115}, 135, 0},
      {"the total limit comes first", {20, 0, 30}, {20}, 20, 10},
      {"all zero waits for every byte", {0, 0, 0}, {9000}, 9500, 500},
      {"but never for good", {0, 0, 0}, {9000}, 200000, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ReadDeadline deadline(c.timeouts, 6, T0);
    for (const int arrival : c.arrivalsMs) deadline.bytesArrived(at(arrival));
    EXPECT_EQ(deadline.remaining(at(c.nowMs), c.arrivalsMs.size()), ms(c.remainingMs));
  }
}

TEST(ReadDeadline, MaxdwordMeaningsAndNoOverflow) {
  // With both totals zero: only what is queued already.
  EXPECT_EQ(ReadDeadline({Max, 0, 0}, 6, T0).remaining(at(0), 0), ms(0));
  // With multiplier MAXDWORD as well: the first bytes, or the constant.
  ReadDeadline firstBytes({Max, Max, 50}, 6, T0);
  EXPECT_EQ(firstBytes.remaining(at(10), 0), ms(40));
  firstBytes.bytesArrived(at(10));
  EXPECT_EQ(firstBytes.remaining(at(10), 1), ms(0));
  // Any other combination is an ordinary, very long interval.
  ReadDeadline longInterval({Max, 0, 50}, 6, T0);
  longInterval.bytesArrived(at(10));
  EXPECT_EQ(longInterval.remaining(at(10), 1), ms(40));

  EXPECT_GT(ReadDeadline({0, Max, Max}, 255, T0).remaining(at(0), 0), std::chrono::hours(24 * 365));
}

// A wait in whole milliseconds ends at its deadline or after it, never before:
// a wait cut short gives up with time left.
TEST(ReadDeadline, WaitsInWholeMillisecondsEndAtTheDeadlineNeverBefore) {
  using std::chrono::microseconds;
  const std::pair<ReadDeadline::Duration, uint32_t> waits[] = {
      {microseconds(-5000), 0},
      {microseconds(1), 1},
      {microseconds(1000), 1},
      {microseconds(1001), 2},
      {std::chrono::hours(24 * 365), 1u << 30}};
  for (const auto& [left, expected] : waits) EXPECT_EQ(waitMs(left), expected) << left.count();
  EXPECT_EQ(msUntil(at(40), at(30)), 10u);
}

}  // namespace
}  // namespace loopmon
