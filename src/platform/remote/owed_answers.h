#pragma once
// What a remote line's requests are still owed. A network may hold an answer
// back past its try's time limit; it then arrives while a later try, or a
// later request, waits. The tries of one request are interchangeable (the same
// bytes, the same answer), so any of their answers may serve that request. An
// answer owed to a different request must never: the line counts, per device,
// the answers its requests are owed, sorts what arrives frame by frame
// (Address, Length, Length + 1 bytes in all) and hands on only what the
// request in flight may take.
//
// Times are handed in, so that the ledger can be driven without a clock.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace loopmon {

class OwedAnswers {
 public:
  using Time = std::chrono::steady_clock::time_point;

  // An owed answer that came after its try gave up: how much later than the
  // try's local limit (without the network allowance) it came.
  struct LateAnswer {
    double beyondLocalLimitMs = 0;
  };

  // Whether a request `frame` (as written, checksum included) to its device
  // must first have the answers owed to a different request of that device:
  // their number, 0 when none stand in its way.
  unsigned owedBefore(const uint8_t* frame, size_t count) const;
  // Whether any device still owes an answer.
  bool owesAny() const;
  // Until when the answers owed by the device of `frame` are awaited at most.
  Time awaitedUntil(const uint8_t* frame) const;

  // A request awaiting an answer goes out at `now`: it is now the request in
  // flight, and owes one answer more. Call it only when owedBefore is 0.
  void requestSent(const uint8_t* frame, size_t count, Time now);
  // The try in flight's read: a local line would have waited `localLimitMs`,
  // and its answer is awaited until `until` at most.
  void tryLimits(double localLimitMs, Time until);
  // The try in flight's read ended without its whole answer.
  void tryGaveUp();

  // Sorts `count` data bytes that arrived at `now`: those the request in
  // flight may take are appended to `handedOn`, an owed answer to another
  // request is dropped. Returns the answers that are now known to have come
  // after their try gave up.
  std::vector<LateAnswer> sort(const uint8_t* bytes, size_t count, std::deque<uint8_t>& handedOn,
                               Time now);

  // A new connection is owed nothing.
  void forgetAll();

 private:
  struct Try {
    Time sent;
    double localLimitMs = 0;
    bool gaveUp = false;
  };
  // The answers one device owes, all to one request (a different request
  // goes out only once they have come, or the connection is new).
  struct Debt {
    std::vector<uint8_t> request;
    unsigned owed = 0;
    Time until{};
    // The oldest tries still owed, as far as they are kept.
    std::deque<Try> tries;
    // What the answers taken for tries that gave up say, until it is certain.
    std::vector<LateAnswer> late;
  };
  static constexpr size_t Devices = 128;
  static constexpr size_t KeptTries = 8;

  // The device of `address` owes an answer to a request not in flight.
  bool owedElsewhere(uint8_t address) const;
  void frameStarts(uint8_t address, std::deque<uint8_t>& handedOn);
  // A frame from `address` has come: it pays the oldest answer the device owes.
  void pay(uint8_t address, Time now, std::vector<LateAnswer>& late);

  std::array<Debt, Devices> debts_{};
  std::optional<uint8_t> inFlight_;  // the device of the request in flight
  // A frame's first byte until its Length comes; held back when the frame
  // may pay an answer owed to another request.
  struct Head {
    uint8_t address = 0;
    bool held = false;
  };
  std::optional<Head> head_;
  size_t passing_ = 0;   // bytes of the frame being handed on still to come
  size_t dropping_ = 0;  // bytes of the owed frame being dropped still to come
};

}  // namespace loopmon
