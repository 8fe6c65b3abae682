#include "transport/bus_trace.h"

#include <bit>
#include <cstring>
#include <type_traits>

namespace loopmon {

namespace {

static_assert(std::is_trivially_copyable_v<TraceRecord>);
constexpr size_t RecordWords = (sizeof(TraceRecord) + sizeof(uint64_t) - 1) / sizeof(uint64_t);

// A slot's sequence: 0 never written; for ticket t, 2t + 1 while a writer
// fills it and 2t + 2 once it holds that record.
constexpr uint64_t filling(uint64_t ticket) {
  return 2 * ticket + 1;
}
constexpr uint64_t holding(uint64_t ticket) {
  return 2 * ticket + 2;
}

}  // namespace

// The record is kept as atomic words, so that a reader may copy a slot while
// a writer that has lapped it fills it again: the sequence read before and
// after the copy tells whether the copy is whole.
struct TraceRing::Slot {
  std::atomic<uint64_t> sequence{0};
  // Ticket + 1 of a writer that gave the slot up, so the reader passes it.
  std::atomic<uint64_t> givenUp{0};
  std::array<std::atomic<uint64_t>, RecordWords> words{};
};

TraceRing::TraceRing(size_t capacity)
    : mask_(std::bit_ceil(std::max<size_t>(capacity, 2)) - 1),
      slots_(std::make_unique<Slot[]>(mask_ + 1)) {}

TraceRing::~TraceRing() = default;

void TraceRing::push(const TraceRecord& record) noexcept {
  const uint64_t ticket = head_.fetch_add(1, std::memory_order_relaxed);
  Slot& slot = slots_[ticket & mask_];
  uint64_t seen = slot.sequence.load(std::memory_order_relaxed);
  // A writer a whole ring behind may still be filling the slot, or a later
  // one has filled it already: this record gives way rather than wait, and
  // the reader counts it as dropped.
  if ((seen & 1) != 0 || seen > filling(ticket) ||
      !slot.sequence.compare_exchange_strong(seen, filling(ticket), std::memory_order_relaxed)) {
    slot.givenUp.store(ticket + 1, std::memory_order_release);
    return;
  }
  // Each word is released, so that a reader that sees any of them also sees
  // the slot marked as being filled when it looks at the sequence again.
  std::array<uint64_t, RecordWords> words{};
  std::memcpy(words.data(), &record, sizeof record);
  for (size_t i = 0; i < RecordWords; ++i) slot.words[i].store(words[i], std::memory_order_release);
  slot.sequence.store(holding(ticket), std::memory_order_release);
}

uint64_t TraceRing::take(std::vector<TraceRecord>& into, size_t limit) {
  std::lock_guard guard(readerLock_);
  uint64_t lost = 0;
  const uint64_t head = head_.load(std::memory_order_acquire);
  for (size_t taken = 0; next_ < head && taken < limit;) {
    if (head - next_ > capacity()) {
      lost += head - next_ - capacity();
      next_ = head - capacity();
    }
    Slot& slot = slots_[next_ & mask_];
    const uint64_t before = slot.sequence.load(std::memory_order_acquire);
    if (before < holding(next_)) {
      // Its writer is still at work: the rest waits for the next call.
      if (slot.givenUp.load(std::memory_order_acquire) != next_ + 1) break;
      ++lost;
      ++next_;
      continue;
    }
    if (before == holding(next_)) {
      std::array<uint64_t, RecordWords> words{};
      for (size_t i = 0; i < RecordWords; ++i)
        words[i] = slot.words[i].load(std::memory_order_acquire);
      if (slot.sequence.load(std::memory_order_relaxed) == before) {
        std::memcpy(static_cast<void*>(&into.emplace_back()), words.data(), sizeof(TraceRecord));
        ++taken;
        ++next_;
        continue;
      }
    }
    // Written over by a writer a whole ring later.
    ++lost;
    ++next_;
  }
  dropped_.fetch_add(lost, std::memory_order_relaxed);
  return lost;
}

std::shared_ptr<TraceRing> BusTrace::start(size_t capacity) {
  std::lock_guard guard(control_);
  if (!ring_) ring_ = std::make_shared<TraceRing>(capacity);
  active_.store(ring_.get(), std::memory_order_release);
  return ring_;
}

void BusTrace::stop() {
  active_.store(nullptr, std::memory_order_release);
}

}  // namespace loopmon
