#include "loops/loop_history.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace loopmon {

namespace {

// The first slice once a stretch must be thinned; doubled as needed.
constexpr int64_t FirstSliceMs = 1000;

int64_t millisOf(WallTime time) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

int64_t sliceOf(WallTime time, WallTime origin, int64_t sliceMs) {
  const int64_t offset = millisOf(time) - millisOf(origin);
  return offset >= 0 ? offset / sliceMs : (offset - sliceMs + 1) / sliceMs;
}

// What a slice keeps of a steady stretch: its lowest and its highest reading.
double extremeKey(const HistoryPoint& point) {
  return std::isnan(point.kiloOhmsOrNan) ? point.value : point.kiloOhmsOrNan;
}

// Appends a point; within a time slice of a steady stretch only the lowest
// (earliest of equals) and the highest (latest of equals) reading stay.
// Returns false when the point or one before it was dropped.
bool appendThinned(std::vector<HistoryPoint>& points, const HistoryPoint& point, WallTime origin,
                   int64_t sliceMs) {
  if (point.pinned || sliceMs == 0 || points.size() < 2) {
    points.push_back(point);
    return true;
  }
  const HistoryPoint& a = points[points.size() - 2];
  const HistoryPoint& b = points.back();
  const int64_t slice = sliceOf(point.time, origin, sliceMs);
  const bool sameSlice = !a.pinned && !b.pinned && a.time <= b.time && b.time <= point.time &&
                         sliceOf(a.time, origin, sliceMs) == slice &&
                         sliceOf(b.time, origin, sliceMs) == slice;
  if (!sameSlice) {
    points.push_back(point);
    return true;
  }
  const std::array<HistoryPoint, 3> candidates{a, b, point};
  size_t low = 0;
  size_t high = 0;
  for (size_t i = 1; i < candidates.size(); ++i) {
    if (extremeKey(candidates[i]) < extremeKey(candidates[low])) low = i;
    if (extremeKey(candidates[i]) >= extremeKey(candidates[high])) high = i;
  }
  if (low == high) high = candidates.size() - 1;
  points[points.size() - 2] = candidates[std::min(low, high)];
  points.back() = candidates[std::max(low, high)];
  return false;
}

}  // namespace

std::optional<double> HistoryPoint::KiloOhms() const {
  if (std::isnan(kiloOhmsOrNan)) return std::nullopt;
  return kiloOhmsOrNan;
}

LoopHistory::LoopHistory(Limits limits) : limits_(limits) {}

void LoopHistory::Record(const LoopReading& reading) {
  if (!reading.answered()) return;
  const LoopCondition condition =
      reading.condition == LoopCondition::NotShown ? LoopCondition::Normal : reading.condition;
  std::lock_guard guard(lock_);
  LoopRecord& record = loops_[{reading.address, reading.loop}];
  const size_t kind = static_cast<size_t>(reading.kind);
  // A state reading's state is its code; an ADC reading's is what it shows
  // instead of a number, if anything.
  const uint8_t state =
      reading.kind == ReadingKind::State ? reading.value : static_cast<uint8_t>(condition);
  const std::optional<uint8_t> lastState = record.lastState[kind];
  // Moves are judged against the last reading of the same kind: switching
  // the view between a loop in alarm and its resistance is no move.
  const bool move = lastState && record.lastCondition[kind] != condition;

  HistoryPoint point;
  point.time = reading.time;
  point.kiloOhmsOrNan = reading.kiloOhms.value_or(std::numeric_limits<double>::quiet_NaN());
  point.kind = reading.kind;
  point.value = reading.value;
  point.condition = condition;
  point.from = move ? record.lastCondition[kind] : condition;
  point.stateChange = record.lastKind != reading.kind || lastState != state;
  point.move = move;

  LoopSummary& summary = record.summary;
  if (summary.readings == 0) {
    summary.key = {reading.address, reading.loop};
    summary.first = reading.time;
    record.origin = reading.time;
    record.earliest = reading.time;
    record.latest = reading.time;
  }
  record.earliest = std::min(record.earliest, reading.time);
  record.latest = std::max(record.latest, reading.time);
  ++summary.readings;
  summary.last = reading.time;
  summary.condition = condition;
  if (reading.kiloOhms) {
    const double value = *reading.kiloOhms;
    if (!summary.minimum || value < summary.minimum->kiloOhms)
      summary.minimum = {value, reading.time};
    if (!summary.maximum || value > summary.maximum->kiloOhms)
      summary.maximum = {value, reading.time};
  }
  if (move) {
    ++summary.moves;
    ++summary.into[static_cast<size_t>(condition)];
    ++summary.outOf[static_cast<size_t>(point.from)];
  }

  if (record.tail) {
    if (point.stateChange) pin(record, *record.tail);
    commit(record, *record.tail);
  }
  if (point.stateChange) pin(record, point);
  record.tail = point;
  record.lastKind = reading.kind;
  record.lastState[kind] = state;
  record.lastCondition[kind] = condition;
}

void LoopHistory::pin(LoopRecord& record, HistoryPoint& point) const {
  if (point.pinned || record.pinned >= limits_.pinnedPoints) return;
  point.pinned = true;
  ++record.pinned;
}

void LoopHistory::commit(LoopRecord& record, const HistoryPoint& point) const {
  if (!point.pinned) ++record.steady;
  if (!appendThinned(record.points, point, record.origin, record.sliceMs)) --record.steady;
  if (record.steady > limits_.steadyPoints) thin(record);
}

void LoopHistory::thin(LoopRecord& record) const {
  const int64_t spanMs = millisOf(record.latest) - millisOf(record.earliest);
  // Each pass doubles the slice; once a slice spans the whole run, a steady
  // stretch is down to its two extremes and wider slices gain nothing.
  while (record.steady > limits_.steadyPoints / 2 && record.sliceMs <= spanMs) {
    record.sliceMs = record.sliceMs == 0 ? FirstSliceMs : record.sliceMs * 2;
    std::vector<HistoryPoint> thinned;
    thinned.reserve(limits_.steadyPoints + record.pinned + 1);
    size_t steady = 0;
    for (const HistoryPoint& point : record.points) {
      if (!point.pinned) ++steady;
      if (!appendThinned(thinned, point, record.origin, record.sliceMs)) --steady;
    }
    record.points.swap(thinned);
    record.steady = steady;
  }
}

void LoopHistory::Clear() {
  std::lock_guard guard(lock_);
  loops_.clear();
}

std::vector<LoopKey> LoopHistory::Loops() const {
  std::lock_guard guard(lock_);
  std::vector<LoopKey> keys;
  keys.reserve(loops_.size());
  for (const auto& entry : loops_) keys.push_back(entry.first);
  return keys;
}

std::optional<LoopSummary> LoopHistory::Summary(LoopKey key) const {
  std::lock_guard guard(lock_);
  const auto found = loops_.find(key);
  if (found == loops_.end()) return std::nullopt;
  return found->second.summary;
}

std::vector<HistoryPoint> LoopHistory::seriesOf(const LoopRecord& record) const {
  std::vector<HistoryPoint> series(record.points);
  if (record.tail) series.push_back(*record.tail);
  return series;
}

std::vector<HistoryPoint> LoopHistory::Series(LoopKey key) const {
  std::lock_guard guard(lock_);
  const auto found = loops_.find(key);
  if (found == loops_.end()) return {};
  return seriesOf(found->second);
}

std::vector<LoopMove> LoopHistory::Moves(LoopKey key) const {
  std::vector<LoopMove> moves;
  for (const HistoryPoint& point : Series(key)) {
    if (point.move) moves.push_back({point.time, point.from, point.condition});
  }
  return moves;
}

size_t LoopHistory::MemoryBytes() const {
  std::lock_guard guard(lock_);
  // A map node carries its colour and three links besides the entry.
  constexpr size_t NodeBytes = sizeof(std::pair<const LoopKey, LoopRecord>) + 4 * sizeof(void*);
  size_t bytes = sizeof(*this);
  for (const auto& entry : loops_) {
    bytes += NodeBytes + entry.second.points.capacity() * sizeof(HistoryPoint);
  }
  return bytes;
}

}  // namespace loopmon
