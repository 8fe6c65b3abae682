#include "platform/system/wake_lateness.h"

#include <algorithm>

namespace loopmon {
namespace {

// On top of the quantile: the estimate of one window is rough, and the wait
// reads the counter once more after it wakes.
constexpr int64_t HeadroomMicros = 50;
// A sleep that woke later than this counts as this late: the ceiling is far
// below it, and the window's values stay small.
constexpr int64_t LongestLateMicros = 1'000'000;

// More than one in a hundred of the window.
size_t tolerated(size_t held) {
  return held / 100;
}

}  // namespace

// Only stores: the wait notes a sleep after its spin, just before the line is
// turned round, and the quantile is worked out when the next wait asks for it.
void WakeLateness::note(int64_t lateMicros, bool spinPreempted) {
  const auto late = static_cast<int32_t>(std::clamp<int64_t>(lateMicros, 0, LongestLateMicros));
  std::lock_guard lock(mutex_);
  recent_[noted_ % Window] = {late, spinPreempted};
  ++noted_;
}

std::optional<int64_t> WakeLateness::quantileLocked() const {
  const size_t held = std::min(noted_, Window);
  if (held < FirstSleeps) return std::nullopt;
  // With a full window the single latest of all is left out, so one outlier
  // moves nothing.
  std::array<int32_t, Window> sorted{};
  std::transform(recent_.begin(), recent_.begin() + static_cast<std::ptrdiff_t>(held),
                 sorted.begin(), [](const Sleep& sleep) { return sleep.lateMicros; });
  const auto at = sorted.begin() + static_cast<std::ptrdiff_t>(held - 1 - tolerated(held));
  std::nth_element(sorted.begin(), at, sorted.begin() + static_cast<std::ptrdiff_t>(held));
  return *at;
}

std::optional<int64_t> WakeLateness::highQuantileMicros() const {
  std::lock_guard lock(mutex_);
  return quantileLocked();
}

int64_t WakeLateness::spinMarginMicros(int64_t clockMarginMicros) const {
  std::lock_guard lock(mutex_);
  const std::optional<int64_t> quantile = quantileLocked();
  if (!quantile) return clockMarginMicros;
  const size_t held = std::min(noted_, Window);
  const auto preempted = static_cast<size_t>(
      std::count_if(recent_.begin(), recent_.begin() + static_cast<std::ptrdiff_t>(held),
                    [](const Sleep& sleep) { return sleep.spinPreempted; }));
  const int64_t margin = *quantile + HeadroomMicros;
  if (margin > CeilingMicros || preempted > tolerated(held)) return clockMarginMicros;
  return std::max(margin, clockMarginMicros);
}

size_t WakeLateness::sleepsNoted() const {
  std::lock_guard lock(mutex_);
  return noted_;
}

}  // namespace loopmon
