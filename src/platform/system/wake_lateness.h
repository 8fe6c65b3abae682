#pragma once
// How late this machine wakes a thread from a timed sleep, learned from the
// sleeps themselves, and the spin margin a timed wait needs for it: a quiet
// machine wakes within tens of microseconds and the wait spins no longer than
// its clock always did; an idle virtual machine in a power-saving state wakes
// a millisecond or so late now and then, and the wait spins that long to turn
// the line round on time. A busy machine is another matter: there a long spin
// is itself preempted, and the time it burns makes the next wake-up later
// still, so the wait keeps its clock's own margin.

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>

namespace loopmon {

class WakeLateness {
 public:
  // Lateness beyond this is a busy machine's: no spin covers it, and the
  // spin would cost more than the late turnarounds it saves.
  static constexpr int64_t CeilingMicros = 2000;
  // Only the latest sleeps count, so an outlier or a busy spell that has
  // passed stops costing spin time once this many sleeps have followed it.
  static constexpr size_t Window = 128;
  // Fewer sleeps than this say too little; the margin stays the clock's own.
  static constexpr size_t FirstSleeps = 16;

  // Notes how far past its due moment one sleep woke (negative: early), and
  // whether the spin after it was preempted.
  void note(int64_t lateMicros, bool spinPreempted);
  // The lateness about 99 sleeps in 100 of the window stay within; none
  // before the first sleeps have been noted.
  std::optional<int64_t> highQuantileMicros() const;
  // How long before a moment a timed wait should stop sleeping and spin:
  // never less than `clockMarginMicros`, what the clock's sleeps always
  // overshoot, and that on a busy machine.
  int64_t spinMarginMicros(int64_t clockMarginMicros) const;
  size_t sleepsNoted() const;

 private:
  struct Sleep {
    int32_t lateMicros;
    bool spinPreempted;
  };
  std::optional<int64_t> quantileLocked() const;

  mutable std::mutex mutex_;
  std::array<Sleep, Window> recent_{};
  size_t noted_ = 0;
};

}  // namespace loopmon
