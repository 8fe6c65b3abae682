#include "platform/read_deadline.h"

#include <gtest/gtest.h>

namespace loopmon {
namespace {

using std::chrono::milliseconds;
using Deadline = ReadDeadline;
constexpr uint32_t kMax = 0xFFFFFFFF;
const Deadline::TimePoint t0{};

Deadline::TimePoint at(int ms) {
  return t0 + milliseconds(ms);
}

std::optional<Deadline::Duration> ms(int n) {
  return milliseconds(n);
}

TEST(ReadDeadline, TotalLimitIsMultiplierPerByteAndConstantFromTheStart) {
  Deadline constantOnly({0, 0, 30}, 6, t0);
  EXPECT_EQ(constantOnly.remaining(at(0), 0), ms(30));
  constantOnly.bytesArrived(at(10));
  EXPECT_EQ(constantOnly.remaining(at(10), 3), ms(20));
  EXPECT_EQ(constantOnly.remaining(at(45), 3), ms(0));

  EXPECT_EQ(Deadline({0, 5, 30}, 6, t0).remaining(at(0), 0), ms(60));
  EXPECT_EQ(Deadline({0, 5, 0}, 6, t0).remaining(at(1), 0), ms(29));
}

TEST(ReadDeadline, IntervalCountsFromTheLatestBytesOnly) {
  Deadline intervalOnly({20, 0, 0}, 6, t0);
  EXPECT_EQ(intervalOnly.remaining(at(5000), 0), std::nullopt) << "no limit before the first byte";
  intervalOnly.bytesArrived(at(100));
  EXPECT_EQ(intervalOnly.remaining(at(110), 1), ms(10));
  intervalOnly.bytesArrived(at(115));
  EXPECT_EQ(intervalOnly.remaining(at(115), 2), ms(20));
  EXPECT_EQ(intervalOnly.remaining(at(140), 2), ms(0));

  Deadline both({20, 0, 30}, 6, t0);
  both.bytesArrived(at(5));
  EXPECT_EQ(both.remaining(at(5), 1), ms(20));
  both.bytesArrived(at(20));
  EXPECT_EQ(both.remaining(at(20), 2), ms(10)) << "the total limit comes first";
}

TEST(ReadDeadline, AllZeroWaitsForEveryByte) {
  Deadline none({0, 0, 0}, 6, t0);
  EXPECT_EQ(none.remaining(at(100000), 0), std::nullopt);
  none.bytesArrived(at(100000));
  EXPECT_EQ(none.remaining(at(200000), 5), std::nullopt);
}

TEST(ReadDeadline, MaxdwordIntervalMeanings) {
  // With both totals zero: only what is queued already.
  EXPECT_EQ(Deadline({kMax, 0, 0}, 6, t0).remaining(at(0), 0), ms(0));

  // With multiplier MAXDWORD as well: the first bytes, or the constant.
  Deadline firstBytes({kMax, kMax, 50}, 6, t0);
  EXPECT_EQ(firstBytes.remaining(at(10), 0), ms(40));
  firstBytes.bytesArrived(at(10));
  EXPECT_EQ(firstBytes.remaining(at(10), 1), ms(0));

  // Any other combination is an ordinary, very long interval.
  Deadline longInterval({kMax, 0, 50}, 6, t0);
  longInterval.bytesArrived(at(10));
  EXPECT_EQ(longInterval.remaining(at(10), 1), ms(40));
}

TEST(ReadDeadline, LargestSettingsDoNotOverflow) {
  auto remaining = Deadline({0, kMax, kMax}, 255, t0).remaining(at(0), 0);
  ASSERT_TRUE(remaining);
  EXPECT_GT(*remaining, std::chrono::hours(24 * 365));
}

}  // namespace
}  // namespace loopmon
