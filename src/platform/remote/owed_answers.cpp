#include "platform/remote/owed_answers.h"

#include <algorithm>

namespace loopmon {

namespace {

constexpr uint8_t AddressBits = 0x7F;
// An answer on the bus has 6 to 31 bytes: Length 5 to 30.
constexpr uint8_t ShortestLength = 5;
constexpr uint8_t LongestLength = 30;

uint8_t deviceOf(uint8_t address) {
  return address & AddressBits;
}

bool sameRequest(const std::vector<uint8_t>& request, const uint8_t* frame, size_t count) {
  return request.size() == count && std::equal(request.begin(), request.end(), frame);
}

}  // namespace

unsigned OwedAnswers::owedBefore(const uint8_t* frame, size_t count) const {
  if (count == 0) return 0;
  const Debt& debt = debts_[deviceOf(frame[0])];
  return debt.owed > 0 && !sameRequest(debt.request, frame, count) ? debt.owed : 0;
}

bool OwedAnswers::owesAny() const {
  return std::any_of(debts_.begin(), debts_.end(), [](const Debt& debt) { return debt.owed > 0; });
}

OwedAnswers::Time OwedAnswers::awaitedUntil(const uint8_t* frame) const {
  return debts_[deviceOf(frame[0])].until;
}

void OwedAnswers::requestSent(const uint8_t* frame, size_t count, Time now) {
  if (count == 0) return;
  const uint8_t device = deviceOf(frame[0]);
  Debt& debt = debts_[device];
  if (!sameRequest(debt.request, frame, count)) {
    debt = Debt{};
    debt.request.assign(frame, frame + count);
    debt.until = now;
  }
  ++debt.owed;
  if (debt.tries.size() < KeptTries) debt.tries.push_back({now, 0, false});
  inFlight_ = device;
}

void OwedAnswers::tryLimits(double localLimitMs, Time until) {
  if (!inFlight_) return;
  Debt& debt = debts_[*inFlight_];
  debt.until = std::max(debt.until, until);
  // The first read of a try sets its limit; the rest of an answer read in
  // parts comes with its first bytes.
  if (!debt.tries.empty() && debt.tries.size() == debt.owed && debt.tries.back().localLimitMs == 0)
    debt.tries.back().localLimitMs = localLimitMs;
}

void OwedAnswers::tryGaveUp() {
  if (!inFlight_) return;
  Debt& debt = debts_[*inFlight_];
  if (!debt.tries.empty() && debt.tries.size() == debt.owed) debt.tries.back().gaveUp = true;
}

void OwedAnswers::pay(uint8_t address, Time now, std::vector<LateAnswer>& late) {
  Debt& debt = debts_[deviceOf(address)];
  if (debt.owed == 0) return;
  --debt.owed;
  if (!debt.tries.empty()) {
    const Try paid = debt.tries.front();
    debt.tries.pop_front();
    if (paid.gaveUp) {
      debt.late.push_back(
          {std::chrono::duration<double, std::milli>(now - paid.sent).count() - paid.localLimitMs});
    }
  }
  // Answers come in the order of their tries, so which try an answer was is
  // certain only once every try has had one: until then the answer taken for
  // a try that gave up may be a later try's, the earlier one lost.
  if (debt.owed == 0) {
    late.insert(late.end(), debt.late.begin(), debt.late.end());
    debt.late.clear();
  }
}

bool OwedAnswers::owedElsewhere(uint8_t address) const {
  const uint8_t device = deviceOf(address);
  return debts_[device].owed > 0 && inFlight_ != device;
}

void OwedAnswers::frameStarts(uint8_t address, std::deque<uint8_t>& handedOn) {
  head_ = Head{address, owedElsewhere(address)};
  // Only an answer owed to another request waits for its Length: the rest
  // goes on at once, so that a read has every byte that came.
  if (!head_->held) handedOn.push_back(address);
}

std::vector<OwedAnswers::LateAnswer> OwedAnswers::sort(const uint8_t* bytes, size_t count,
                                                       std::deque<uint8_t>& handedOn, Time now) {
  std::vector<LateAnswer> late;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t byte = bytes[i];
    if (passing_ > 0) {
      --passing_;
      handedOn.push_back(byte);
    } else if (dropping_ > 0) {
      --dropping_;
    } else if (!head_) {
      frameStarts(byte, handedOn);
    } else {
      const Head head = *head_;
      head_.reset();
      if (byte < ShortestLength || byte > LongestLength) {
        // No answer starts so: the first byte goes on as it is, and this
        // one may start a frame.
        if (head.held) handedOn.push_back(head.address);
        frameStarts(byte, handedOn);
        continue;
      }
      pay(head.address, now, late);
      if (head.held) {
        dropping_ = byte - 1u;
      } else {
        handedOn.push_back(byte);
        passing_ = byte - 1u;
      }
    }
  }
  return late;
}

void OwedAnswers::forgetAll() {
  debts_ = {};
  inFlight_.reset();
  head_.reset();
  passing_ = 0;
  dropping_ = 0;
}

}  // namespace loopmon
