#pragma once
// Flapping: a loop whose condition changes often within its recent readings
// is one fault (a loose terminal, water in a box), not a string of alarms.
// The share of changes over the last readings, with a higher threshold to
// start and a lower one to stop, so a loop near the threshold is not itself
// reported on and off, the way network monitors judge a flapping service.

#include <bitset>
#include <cstddef>

namespace loopmon {

struct FlapThresholds {
  // Readings judged: the changes between them are counted.
  static constexpr size_t Readings = 21;
  int startPercent = 40;
  int stopPercent = 10;
};

class FlapDetector {
 public:
  enum class Turn { None, Started, Stopped };

  explicit FlapDetector(FlapThresholds thresholds = {}) : thresholds_(thresholds) {}

  // The next reading: whether the condition changed since the one before.
  Turn add(bool changed);
  bool flapping() const { return flapping_; }
  // Changes among the last readings, in percent of the transitions they hold.
  int percent() const;

 private:
  static constexpr size_t Transitions = FlapThresholds::Readings - 1;
  FlapThresholds thresholds_;
  std::bitset<Transitions> changes_;
  size_t next_ = 0;
  bool flapping_ = false;
};

}  // namespace loopmon
