#pragma once
// The loops' readings of this run, kept per device and loop so that a loop
// that goes into alarm at night and reads fine in the morning leaves a trace:
// every change of state, a thinned record of the steady stretches, the
// extremes of the resistance and the moves into and out of alarm, open and
// short. Memory stays bounded however long the reading runs. Safe to feed from
// one thread while another one reads.

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/iso_time.h"
#include "loops/loop_reading.h"

namespace loopmon {

struct LoopKey {
  uint8_t address = 0;
  int loop = 0;
  auto operator<=>(const LoopKey&) const = default;
};

// One kept reading of a loop's series.
struct HistoryPoint {
  WallTime time;
  // NaN when the reading shows no resistance (KiloOhms() says so): a point
  // takes no more room than a number.
  double kiloOhmsOrNan = 0;
  ReadingKind kind = ReadingKind::Adc;
  uint8_t value = 0;
  LoopCondition condition = LoopCondition::Normal;
  // For a move: the condition it left.
  LoopCondition from = LoopCondition::Normal;
  // The first reading of a new state (or of the run, or after a view switch).
  bool stateChange = false;
  bool move = false;
  // Never thinned away: state changes and the readings just before them.
  bool pinned = false;

  std::optional<double> KiloOhms() const;
};

struct LoopMove {
  WallTime time;
  LoopCondition from = LoopCondition::Normal;
  LoopCondition to = LoopCondition::Normal;
};

struct Extreme {
  double kiloOhms = 0;
  WallTime time;
};

struct LoopSummary {
  LoopKey key;
  size_t readings = 0;
  WallTime first;
  WallTime last;
  std::optional<Extreme> minimum;
  std::optional<Extreme> maximum;
  // Every change of condition counts once, whatever the number of readings
  // on either side of it.
  int moves = 0;
  // Indexed by LoopCondition; the Normal entries count moves back to normal
  // and away from it.
  std::array<int, LoopConditionCount> into{};
  std::array<int, LoopConditionCount> outOf{};
  LoopCondition condition = LoopCondition::Normal;

  int Into(LoopCondition c) const { return into[static_cast<size_t>(c)]; }
  int OutOf(LoopCondition c) const { return outOf[static_cast<size_t>(c)]; }
};

class LoopHistory {
 public:
  struct Limits {
    // Points per loop for the steady stretches; past it the stretches are
    // thinned to the lowest and highest reading per time slice.
    size_t steadyPoints = 2048;
    // Pinned points per loop. Past it further changes are still counted, but
    // thinned like steady readings (a loop chattering all day long).
    size_t pinnedPoints = 16384;
  };

  LoopHistory() : LoopHistory(Limits{}) {}
  explicit LoopHistory(Limits limits);

  // Takes one answered reading; readings of a loop are expected in time
  // order. A reading that shows no condition counts as normal, so a line
  // device going from "откл." to "Норма" is no move.
  void Record(const LoopReading& reading);
  void Clear();

  // The loops read so far, by address and loop number.
  std::vector<LoopKey> Loops() const;
  std::optional<LoopSummary> Summary(LoopKey key) const;
  // The kept readings in time order, the latest one included.
  std::vector<HistoryPoint> Series(LoopKey key) const;
  std::vector<LoopMove> Moves(LoopKey key) const;
  // What the kept readings take, roughly.
  size_t MemoryBytes() const;

 private:
  struct LoopRecord {
    std::vector<HistoryPoint> points;
    // The latest reading, kept apart until the next one says whether it
    // ends a state (and so must be pinned).
    std::optional<HistoryPoint> tail;
    size_t steady = 0;
    size_t pinned = 0;
    int64_t sliceMs = 0;
    WallTime origin;
    // The earliest and latest reading: the clock may be set back meanwhile.
    WallTime earliest;
    WallTime latest;
    std::optional<ReadingKind> lastKind;
    std::array<std::optional<uint8_t>, 2> lastState{};
    std::array<LoopCondition, 2> lastCondition{};
    LoopSummary summary;
  };

  void pin(LoopRecord& record, HistoryPoint& point) const;
  void commit(LoopRecord& record, const HistoryPoint& point) const;
  void thin(LoopRecord& record) const;
  std::vector<HistoryPoint> seriesOf(const LoopRecord& record) const;

  Limits limits_;
  mutable std::mutex lock_;
  std::map<LoopKey, LoopRecord> loops_;
};

}  // namespace loopmon
