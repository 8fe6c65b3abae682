#pragma once
// A scripted serial line. Every SerialPort made from it records its calls, in
// order and with the fake time at which they were made, into the line; the
// line plays answer bytes as a device would: an answer reaches the receive
// buffer at the first read after a write, so a purge before that read does not
// lose it, while bytes injected earlier are lost to a receive purge.

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "fake_clock.h"
#include "platform/serial_port.h"
#include "transport/frame.h"

namespace loopmon::testing {

struct SerialCall {
  enum class Kind {
    Open,
    Close,
    GetState,
    SetState,
    SetupQueues,
    GetTimeouts,
    SetTimeouts,
    Purge,
    Dtr,
    Rts,
    LineErrors,
    Read,
    Write
  };
  Kind kind = Kind::Open;
  int64_t atMicros = 0;                          // fake time when the call began
  std::string portName;                          // Open
  bool succeeded = true;                         // Open
  CommState state;                               // SetState
  uint32_t receiveQueue = 0, transmitQueue = 0;  // SetupQueues
  CommTimeouts timeouts;                         // SetTimeouts; Read: the time-outs in force
  PurgeAction purge = PurgeAction::TxClear;
  bool on = false;       // Dtr, Rts
  uint32_t errors = 0;   // LineErrors: the flags handed out
  size_t requested = 0;  // Read: bytes asked for
  Bytes bytes;           // Write: bytes written; Read: bytes delivered

  // Compact form for order checks: "open COM3", "timeouts 0,0,600", "purge RxClear",
  // "dtr 1", "write 05 06 00 01 00 00 DC", "read 6 -> 6", "errors 0", "close".
  std::string text() const;
};

class FakeSerialLine : public std::enable_shared_from_this<FakeSerialLine> {
 public:
  // Sees the request frame (the bytes written since the last read, cut to
  // Length + 1 when the Length byte allows) and returns the answer, if any.
  using Responder = std::function<std::optional<Bytes>(const Bytes& request)>;

  explicit FakeSerialLine(std::shared_ptr<FakeClock> clock = nullptr);

  // A port on this line, for Platform::makeSerialPort.
  std::unique_ptr<SerialPort> makePort();

  // --- Script ---
  // Answers are used in order, one per request, before the responder.
  void queueAnswer(Bytes answer);
  // A request that no queued answer serves goes to the responder.
  void setResponder(Responder responder);
  // Bytes already waiting in the receive buffer (a late answer, noise).
  void injectReceived(const Bytes& bytes);
  // Flags handed out by the next takeLineErrors calls, one per call.
  void queueLineErrors(uint32_t flags);
  // The next `count` opens fail; -1 makes every open fail.
  void failOpens(int count);
  // Called after every write with the bytes written.
  void setWriteHook(std::function<void(const Bytes&)> hook);

  // --- Inspection ---
  std::vector<SerialCall> calls() const;
  std::vector<std::string> callTexts() const;
  void clearCalls();
  // Every byte written since the last clearCalls, in order.
  Bytes writtenBytes() const;
  bool isOpen() const;
  bool dtr() const;
  bool rts() const;
  CommState state() const;
  CommTimeouts timeouts() const;
  size_t pendingReceived() const;

 private:
  friend class FakeSerialPort;
  int64_t now() const;
  Bytes takeRequestLocked();

  std::shared_ptr<FakeClock> clock_;
  mutable std::mutex mutex_;
  std::vector<SerialCall> calls_;
  std::deque<Bytes> answers_;
  Responder responder_;
  std::deque<uint32_t> lineErrors_;
  std::function<void(const Bytes&)> writeHook_;
  int failOpens_ = 0;
  bool open_ = false;
  bool dtr_ = false;
  bool rts_ = false;
  CommState state_;
  CommTimeouts timeouts_;
  std::deque<uint8_t> received_;
  Bytes sinceRead_;  // bytes written since the last read
};

}  // namespace loopmon::testing
