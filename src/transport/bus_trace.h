#pragma once
// The trace of the bus: one record per attempt, written by the transaction
// engine where it sends and reads (serial line, remote line, bus driver,
// simulator link) into a ring that one reader drains from a thread of its own.
// Off, an exchange pays one atomic load. On, it never waits for the reader:
// when the reader lags, the oldest records are overwritten and counted.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "transport/frame.h"

namespace loopmon {

// Where an attempt went.
enum class TraceRoute : uint8_t { Serial, Remote, Driver, Simulator, SimulatorWorker };

// What came back for an attempt.
enum class TraceOutcome : uint8_t {
  Answer,        // an answer the engine took
  Sent,          // none awaited: mode 0, an acknowledgement, a broadcast
  Silence,       // nothing before the time-out
  Short,         // fewer bytes than an answer has, or than its Length announced
  BadLength,     // a Length that disagrees with the bytes, or outside 6..31 bytes
  BadChecksum,   //
  Echo,          // the request's own bytes, or their tail, came back
  OtherAddress,  // from another address than asked, which the engine never takes
  Malformed,     // a simulator reply that is no frame text
  NotSent,       // the port could not be opened, or the request cannot be framed
};

// One attempt. Moments are microseconds on the steady clock, -1 for none.
struct TraceRecord {
  uint64_t exchange = 0;    // the request it belongs to; counted from 1 per session
  int64_t wallMicros = 0;   // when the request left, microseconds since 1970 (system clock)
  int64_t sentMicros = -1;  // the first byte handed to the port, or the simulator called
  // The request's last stop bit left the converter: its wire time after
  // sentMicros (the same moment on the simulator link).
  int64_t requestEndMicros = -1;
  int64_t firstByteMicros = -1;  // only where the port tells when bytes came
  // The last byte came, or (where the port cannot tell) the read that brought it returned.
  int64_t lastByteMicros = -1;
  int64_t readEndMicros = -1;  // the wait for the answer ended
  TraceRoute route = TraceRoute::Serial;
  TraceOutcome outcome = TraceOutcome::NotSent;
  uint8_t attempt = 0;   // 1.. within a request of the session; 0 for an exchange of its own
  uint8_t attempts = 0;  // the request's limit of attempts
  bool answerAwaited = true;
  bool accepted = false;  // the engine's verdict
  bool keyed = false;
  uint8_t key = 0;          // of a keyed request and its answer
  uint8_t requestSize = 0;  // the frame as sent, checksum included (without, when not sent)
  uint16_t answerSize = 0;  // the bytes received, as they came
  std::array<uint8_t, MaxFrameBytes> request{};
  std::array<uint8_t, MaxFrameBytes + 1> answer{};

  Bytes requestBytes() const { return Bytes(request.begin(), request.begin() + requestSize); }
  Bytes answerBytes() const { return Bytes(answer.begin(), answer.begin() + answerSize); }
  // The device asked, bit 7 (the keyed form) dropped.
  uint8_t address() const { return requestSize ? request[0] & 0x7F : 0; }
  bool operator==(const TraceRecord&) const = default;
};

// A bounded ring of records that any thread writes without waiting and one
// reader drains. A writer takes the next slot whatever it holds; a reader that
// comes too late finds the slot rewritten and counts the record as dropped.
class TraceRing {
 public:
  // `capacity` is rounded up to a power of two (at least 2).
  explicit TraceRing(size_t capacity);
  ~TraceRing();
  TraceRing(const TraceRing&) = delete;
  TraceRing& operator=(const TraceRing&) = delete;

  size_t capacity() const { return mask_ + 1; }
  // Any thread; never waits and never allocates.
  void push(const TraceRecord& record) noexcept;
  // Appends the records written since the last call, oldest first, at most
  // `limit`, and returns how many were dropped meanwhile. Readers take turns.
  uint64_t take(std::vector<TraceRecord>& into, size_t limit = SIZE_MAX);
  // Every record dropped so far.
  uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

 private:
  struct Slot;

  const size_t mask_;
  std::unique_ptr<Slot[]> slots_;
  std::atomic<uint64_t> head_{0};  // tickets handed to writers
  std::mutex readerLock_;
  uint64_t next_ = 0;  // the next ticket to read
  std::atomic<uint64_t> dropped_{0};
};

// The session's request and attempt that the exchanges on the calling thread
// belong to; set by the session's request wrappers.
struct TraceRequest {
  uint64_t exchange = 0;
  uint8_t attempt = 0;
  uint8_t attempts = 0;
};

class BusTrace {
 public:
  // About ten seconds of the busiest traffic a line carries.
  static constexpr size_t DefaultCapacity = 2048;

  // Switches the trace on and returns the ring to read. A trace that was on
  // before keeps its ring (and its capacity), so a writer never loses it.
  std::shared_ptr<TraceRing> start(size_t capacity = DefaultCapacity);
  // Exchanges from now on are not recorded; the ring stays readable.
  void stop();
  // The ring to write to, or null while the trace is off.
  TraceRing* active() const noexcept { return active_.load(std::memory_order_acquire); }
  uint64_t nextExchange() noexcept {
    return exchanges_.fetch_add(1, std::memory_order_relaxed) + 1;
  }

  // Written and read only by the thread that makes the exchanges.
  TraceRequest current;

 private:
  std::mutex control_;
  std::shared_ptr<TraceRing> ring_;
  std::atomic<TraceRing*> active_{nullptr};
  std::atomic<uint64_t> exchanges_{0};
};

}  // namespace loopmon
