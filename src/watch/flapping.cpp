#include "watch/flapping.h"

namespace loopmon {

int FlapDetector::percent() const {
  return static_cast<int>(changes_.count() * 100 / Transitions);
}

FlapDetector::Turn FlapDetector::add(bool changed) {
  changes_[next_] = changed;
  next_ = (next_ + 1) % Transitions;
  const int share = percent();
  if (!flapping_ && share >= thresholds_.startPercent) {
    flapping_ = true;
    return Turn::Started;
  }
  if (flapping_ && share <= thresholds_.stopPercent) {
    flapping_ = false;
    return Turn::Stopped;
  }
  return Turn::None;
}

}  // namespace loopmon
