#include "loops/loop_history.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <random>
#include <sstream>

namespace loopmon {
namespace {

using std::chrono::seconds;

const WallTime Start = WallTime(std::chrono::hours(24 * 20'000));
const Coefficients Coeffs{408, -1};
constexpr LoopKey Key{5, 3};

WallTime at(int second) {
  return Start + seconds(second);
}

// "s24" is a state reading with code 24, "a100" an ADC reading of 100.
LoopReading parseReading(const std::string& token, int second) {
  const auto value = static_cast<uint8_t>(std::stoi(token.substr(1)));
  if (token[0] == 's') return StateReading(Key.address, Key.loop, at(second), value);
  return AdcReading(Key.address, Key.loop, at(second), value, Coeffs);
}

void feed(LoopHistory& history, const std::string& readings, int repeat = 1) {
  std::istringstream in(readings);
  int second = 0;
  for (std::string token; in >> token;) {
    for (int i = 0; i < repeat; ++i) history.Record(parseReading(token, second++));
  }
}

constexpr auto N = LoopCondition::Normal;
constexpr auto A = LoopCondition::Alarm;
constexpr auto O = LoopCondition::Open;
constexpr auto S = LoopCondition::Short;

struct MoveCase {
  const char* name;
  const char* readings;
  std::vector<std::pair<LoopCondition, LoopCondition>> moves;
};

TEST(LoopHistoryTest, EachMoveCountsOnceHoweverLongTheStateLasts) {
  const std::vector<MoveCase> cases{
      {"alarm and back", "s24 s3 s24", {{N, A}, {A, N}}},
      {"fire alarm and alarm are one alarm", "s24 s37 s3 s24", {{N, A}, {A, N}}},
      {"open straight to short", "a100 a0 a255 a96", {{N, O}, {O, S}, {S, N}}},
      {"the first reading is no move", "s3 s24", {{A, N}}},
      {"other states are not alarm", "s24 s109 s187 s44 s24", {}},
      {"resistance changes are no move", "a100 a1 a254 a96", {}},
      // The ADC view cannot see an alarm: switching views is no move, the
      // state view's alarm ends only with a state reading.
      {"view switch", "s3 a100 a100 s3 s24 a0", {{A, N}, {N, O}}},
  };
  for (const auto& c : cases) {
    for (const int repeat : {1, 7}) {
      SCOPED_TRACE(std::string(c.name) + ", each reading " + std::to_string(repeat) + " times");
      LoopHistory history;
      feed(history, c.readings, repeat);
      const LoopSummary summary = *history.Summary(Key);
      const std::vector<LoopMove> moves = history.Moves(Key);
      ASSERT_EQ(moves.size(), c.moves.size());
      EXPECT_EQ(summary.moves, static_cast<int>(c.moves.size()));
      std::array<int, LoopConditionCount> into{};
      std::array<int, LoopConditionCount> outOf{};
      for (size_t i = 0; i < moves.size(); ++i) {
        EXPECT_EQ(moves[i].from, c.moves[i].first) << "move " << i;
        EXPECT_EQ(moves[i].to, c.moves[i].second) << "move " << i;
        ++outOf[static_cast<size_t>(c.moves[i].first)];
        ++into[static_cast<size_t>(c.moves[i].second)];
      }
      EXPECT_EQ(summary.into, into);
      EXPECT_EQ(summary.outOf, outOf);
    }
  }
}

struct ThinningCase {
  const char* name;
  int readings;
  // Chance per reading of a change of state, and its length in readings.
  double changeChance;
  int changeLength;
  // The reading from which on the clock reads a day earlier (0: never).
  int clockBackAt = 0;
};

// A noisy loop with stray spikes and changes of state, fed through a history
// with a small budget: every change and the reading before it, every move and
// both extremes survive, and the budget holds.
TEST(LoopHistoryTest, ThinningKeepsEveryChangeAndTheExtremes) {
  const std::vector<ThinningCase> cases{
      {"steady", 20'000, 0, 0},
      {"now and then", 20'000, 0.002, 30},
      {"chattering contact", 5'000, 0.2, 1},
      {"clock set back before the first reading", 50'000, 0, 0, 1'000},
  };
  const LoopHistory::Limits limits{64, 4096};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto timeOf = [&](int i) {
      return at(c.clockBackAt > 0 && i >= c.clockBackAt ? i - 86'400 : i);
    };
    std::mt19937 random(7);
    LoopHistory history(limits);
    std::vector<LoopReading> fed;
    int changeLeft = 0;
    uint8_t disturbed = 0;
    for (int i = 0; i < c.readings; ++i) {
      uint8_t adc = static_cast<uint8_t>(100 + std::uniform_int_distribution<int>(-3, 3)(random));
      if (changeLeft == 0 && std::uniform_real_distribution<>(0, 1)(random) < c.changeChance) {
        changeLeft = c.changeLength;
        disturbed = random() % 2 ? 0 : 255;
      }
      if (changeLeft > 0) {
        adc = disturbed;
        --changeLeft;
      }
      if (i == c.readings / 3) adc = 60;       // the lowest ADC: the highest resistance
      if (i == c.readings * 2 / 3) adc = 140;  // and the other way round
      fed.push_back(AdcReading(Key.address, Key.loop, timeOf(i), adc, Coeffs));
      history.Record(fed.back());
    }

    const std::vector<HistoryPoint> series = history.Series(Key);
    ASSERT_FALSE(series.empty());
    // The kept readings in the order they came.
    size_t next = 0;
    for (const HistoryPoint& point : series) {
      while (next < fed.size() && fed[next].time != point.time) ++next;
      ASSERT_LT(next, fed.size()) << "kept out of order: " << IsoTime(point.time);
    }
    EXPECT_EQ(series.back().time, fed.back().time);

    size_t kept = 0;
    std::vector<LoopMove> expectedMoves;
    for (size_t i = 1; i < fed.size(); ++i) {
      if (fed[i].condition == fed[i - 1].condition) continue;
      expectedMoves.push_back({fed[i].time, fed[i - 1].condition, fed[i].condition});
      for (const size_t index : {i - 1, i}) {
        const auto found = std::find_if(series.begin(), series.end(),
                                        [&](const auto& p) { return p.time == fed[index].time; });
        kept += found != series.end() && found->value == fed[index].value;
      }
    }
    EXPECT_EQ(kept, 2 * expectedMoves.size()) << "changes and the readings before them";
    const std::vector<LoopMove> moves = history.Moves(Key);
    ASSERT_EQ(moves.size(), expectedMoves.size());
    for (size_t i = 0; i < moves.size(); ++i) {
      EXPECT_TRUE(moves[i].time == expectedMoves[i].time && moves[i].to == expectedMoves[i].to);
    }
    // The highest resistance (lowest ADC) and the lowest.
    const LoopSummary summary = *history.Summary(Key);
    EXPECT_EQ(summary.maximum->time, fed[c.readings / 3].time);
    EXPECT_EQ(summary.minimum->time, fed[c.readings * 2 / 3].time);
    for (const WallTime time : {summary.minimum->time, summary.maximum->time}) {
      EXPECT_TRUE(
          std::any_of(series.begin(), series.end(), [&](const auto& p) { return p.time == time; }))
          << "extreme at " << IsoTime(time);
    }
    // A steady stretch between two changes thins down to its two extremes.
    const auto pinned = static_cast<size_t>(
        std::count_if(series.begin(), series.end(), [](const auto& p) { return p.pinned; }));
    EXPECT_LE(series.size() - pinned, limits.steadyPoints + 2 * (pinned + 1))
        << "kept " << series.size() << ", pinned " << pinned;
  }
}

TEST(LoopHistoryTest, ADayOfTwentyLoopsAtOneSecondStaysWithinAFewMegabytes) {
  LoopHistory history;
  std::mt19937 random(3);
  for (int second = 0; second < 86'400; ++second) {
    for (int loop = 1; loop <= 20; ++loop) {
      int adc = 90 + loop + std::uniform_int_distribution<int>(-4, 4)(random);
      // A few loops open now and then for half a minute.
      if (loop % 5 == 0 && second % 3600 < 30) adc = 0;
      history.Record(AdcReading(1, loop, at(second), static_cast<uint8_t>(adc), Coeffs));
    }
  }
  EXPECT_LT(history.MemoryBytes(), 3u << 20);
  for (const LoopKey& key : history.Loops()) {
    EXPECT_EQ(history.Summary(key)->readings, 86'400u);
    EXPECT_EQ(history.Summary(key)->moves, key.loop % 5 == 0 ? 2 * 24 - 1 : 0);
  }
}

}  // namespace
}  // namespace loopmon
