#pragma once
// A scripted serial line. Every SerialPort made from it records its calls, in
// order and with the fake time at which they were made, into the line; the
// line plays answer bytes as a device would: an answer reaches the receive
// buffer at the first read after a write, so a purge before that read does not
// lose it.

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "fake_clock.h"
#include "platform/serial/serial_port.h"
#include "transport/frame.h"

namespace loopmon::testing {

struct SerialCall {
  // "open COM3", "open COM3 failed", "getState", "setState 9600,8,0,0", "queues 300,0",
  // "getTimeouts", "timeouts 0,0,600,0,0", "purge RxClear", "dtr 1", "rts 0", "errors 0",
  // "write 05 06 00 01 00 00 DC", "read 6 -> 6" (bytes asked for -> delivered), "close".
  std::string text;
  int64_t atMicros = 0;   // fake time when the call began
  CommTimeouts timeouts;  // Read: the time-outs in force
  Bytes bytes;            // Write: bytes written; Read: bytes delivered
};

class FakeSerialLine : public std::enable_shared_from_this<FakeSerialLine> {
 public:
  // Sees the request frame (the bytes written since the last read, cut to
  // Length + 1 when the Length byte allows) and returns the answer, if any.
  using Responder = std::function<std::optional<Bytes>(const Bytes& request)>;

  explicit FakeSerialLine(std::shared_ptr<FakeClock> clock) : clock_(std::move(clock)) {}

  // A port on this line, for Platform::makeSerialPort.
  std::unique_ptr<SerialPort> makePort();

  // Answers are used in order, one per request, before the responder.
  void queueAnswer(Bytes answer) {
    locked([&] { answers_.push_back(std::move(answer)); });
  }
  // A request that no queued answer serves goes to the responder.
  void setResponder(Responder responder) {
    locked([&] { responder_ = std::move(responder); });
  }
  // Flags handed out by the next takeLineErrors calls, one per call.
  void queueLineErrors(uint32_t flags) {
    locked([&] { lineErrors_.push_back(flags); });
  }
  // The next `count` opens fail; -1 makes every open fail.
  void failOpens(int count) {
    locked([&] { failOpens_ = count; });
  }
  // Ports on this line say they are behind a network server.
  void setRemote(bool remote) {
    locked([&] { remote_ = remote; });
  }
  // Ports on the line take kernel RS-485 mode ("rs485 on" in the calls).
  void offerKernelRs485(bool offered) {
    locked([&] { kernelRs485_ = offered; });
  }
  // Called after every write with the bytes written.
  void setWriteHook(std::function<void(const Bytes&)> hook) {
    locked([&] { writeHook_ = std::move(hook); });
  }

  std::vector<SerialCall> calls() const {
    return locked([&] { return calls_; });
  }
  std::vector<std::string> callTexts() const;
  void clearCalls() {
    locked([&] { calls_.clear(); });
  }
  // Every byte written since the last clearCalls, in order.
  Bytes writtenBytes() const;
  bool isOpen() const {
    return locked([&] { return open_; });
  }
  bool dtr() const {
    return locked([&] { return dtr_; });
  }
  bool rts() const {
    return locked([&] { return rts_; });
  }

 private:
  friend class FakeSerialPort;
  template <class Action>
  auto locked(Action action) const -> decltype(action()) {
    std::lock_guard lock(mutex_);
    return action();
  }

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
  bool remote_ = false;
  bool kernelRs485_ = false;
  CommState state_;
  CommTimeouts timeouts_;
  std::deque<uint8_t> received_;
  Bytes sinceRead_;  // bytes written since the last read
};

}  // namespace loopmon::testing
