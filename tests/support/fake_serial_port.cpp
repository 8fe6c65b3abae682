#include "fake_serial_port.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>

namespace loopmon::testing {

namespace {

std::string numbers(std::initializer_list<uint32_t> values) {
  std::string text;
  for (uint32_t value : values) {
    if (!text.empty()) text += ',';
    text += std::to_string(value);
  }
  return text;
}

}  // namespace

class FakeSerialPort : public SerialPort {
 public:
  explicit FakeSerialPort(std::shared_ptr<FakeSerialLine> line) : line_(std::move(line)) {}

  bool open(const std::string& name) override {
    std::lock_guard lock(line_->mutex_);
    opened_ = line_->open_ = line_->failOpens_ == 0;
    if (line_->failOpens_ > 0) --line_->failOpens_;
    log(opened_ ? "open " + name : "open " + name + " failed");
    // A freshly opened port has DTR and RTS off and an empty receive buffer;
    // a device still answers a request written before the reopen.
    if (opened_) {
      line_->dtr_ = line_->rts_ = false;
      line_->received_.clear();
    }
    return opened_;
  }

  void close() override {
    std::lock_guard lock(line_->mutex_);
    log("close");
    line_->open_ = opened_ = false;
  }

  bool isOpen() const override { return opened_; }
  bool isRemote() const override {
    return line_->locked([&] { return line_->remote_; });
  }

  bool getState(CommState& state) override {
    return step("getState", [&] { state = line_->state_; });
  }

  bool setState(const CommState& s) override {
    return step("setState " + numbers({s.baudRate, s.byteSize, s.parity, s.stopBits}) +
                    (s.dtrControlAuto ? " dtrAuto" : "") + (s.rtsControlAuto ? " rtsAuto" : "") +
                    (s.abortOnError ? " abortOnError" : ""),
                [&] { line_->state_ = s; });
  }

  bool setupQueues(uint32_t receiveBytes, uint32_t transmitBytes) override {
    return step("queues " + numbers({receiveBytes, transmitBytes}), [] {});
  }

  bool getTimeouts(CommTimeouts& timeouts) override {
    return step("getTimeouts", [&] { timeouts = line_->timeouts_; });
  }

  bool setTimeouts(const CommTimeouts& t) override {
    return step(
        "timeouts " + numbers({t.readIntervalMs, t.readTotalMultiplierMs, t.readTotalConstantMs,
                               t.writeTotalMultiplierMs, t.writeTotalConstantMs}),
        [&] { line_->timeouts_ = t; });
  }

  bool purge(PurgeAction action) override {
    const char* const names[] = {"TxClear", "TxAbort", "RxClear", "RxAbort"};
    return step(std::string("purge ") + names[static_cast<int>(action)], [&] {
      if (action == PurgeAction::RxClear) line_->received_.clear();
    });
  }

  bool drain() override {
    return step("drain", [] {});
  }

  bool setDtr(bool on) override {
    return step(on ? "dtr 1" : "dtr 0", [&] { line_->dtr_ = on; });
  }
  bool setRts(bool on) override {
    return step(on ? "rts 1" : "rts 0", [&] { line_->rts_ = on; });
  }

  bool supportsKernelRs485() override {
    return line_->locked([&] { return line_->kernelRs485_; });
  }
  bool enableKernelRs485() override {
    return supportsKernelRs485() && step("rs485 on", [] {});
  }

  uint32_t takeLineErrors() override {
    std::lock_guard lock(line_->mutex_);
    uint32_t flags = 0;
    if (opened_ && !line_->lineErrors_.empty()) {
      flags = line_->lineErrors_.front();
      line_->lineErrors_.pop_front();
    }
    log("errors " + std::to_string(flags));
    return flags;
  }

  size_t read(uint8_t* buffer, size_t count) override {
    std::unique_lock lock(line_->mutex_);
    const int64_t startedAt = line_->clock_->nowMicros();
    Bytes request = opened_ ? takeRequest() : Bytes{};
    std::optional<Bytes> answer;
    if (!request.empty() && !line_->answers_.empty()) {
      answer = std::move(line_->answers_.front());
      line_->answers_.pop_front();
    } else if (!request.empty() && line_->responder_) {
      // The responder runs unlocked so that it may look at the line.
      FakeSerialLine::Responder responder = line_->responder_;
      lock.unlock();
      answer = responder(request);
      lock.lock();
    }
    std::deque<uint8_t>& received = line_->received_;
    if (answer) received.insert(received.end(), answer->begin(), answer->end());

    SerialCall& call = log("");
    call.atMicros = startedAt;
    call.timeouts = line_->timeouts_;
    if (opened_) {
      const auto taken =
          received.begin() + static_cast<ptrdiff_t>(std::min(count, received.size()));
      call.bytes.assign(received.begin(), taken);
      received.erase(received.begin(), taken);
      std::copy(call.bytes.begin(), call.bytes.end(), buffer);
      // A short read lasts until the total time-out has run out.
      const CommTimeouts& t = line_->timeouts_;
      if (call.bytes.size() < count) {
        line_->clock_->advanceMs(int64_t{t.readTotalMultiplierMs} * static_cast<int64_t>(count) +
                                 t.readTotalConstantMs);
      }
    }
    call.text = "read " + std::to_string(count) + " -> " + std::to_string(call.bytes.size());
    return call.bytes.size();
  }

  size_t write(const uint8_t* buffer, size_t count) override {
    Bytes bytes(buffer, buffer + count);
    std::function<void(const Bytes&)> hook;
    {
      std::lock_guard lock(line_->mutex_);
      std::string text = "write";
      char hex[4];
      for (uint8_t b : bytes) {
        std::snprintf(hex, sizeof hex, " %02X", b);
        text += hex;
      }
      log(text).bytes = bytes;
      if (!opened_) return 0;
      line_->sinceRead_.insert(line_->sinceRead_.end(), bytes.begin(), bytes.end());
      hook = line_->writeHook_;
    }
    if (hook) hook(bytes);
    return count;
  }

 private:
  // The following methods run with the line's lock held.
  SerialCall& log(std::string text) {
    return line_->calls_.emplace_back(
        SerialCall{std::move(text), line_->clock_->nowMicros(), {}, {}});
  }

  template <class Apply>
  bool step(std::string text, Apply apply) {
    std::lock_guard lock(line_->mutex_);
    log(std::move(text));
    if (opened_) apply();
    return opened_;
  }

  // The bytes written since the last read without the padding after the checksum.
  Bytes takeRequest() {
    Bytes request = std::move(line_->sinceRead_);
    line_->sinceRead_.clear();
    if (request.size() >= 2 && size_t{request[1]} + 1 < request.size()) {
      request.resize(size_t{request[1]} + 1);
    }
    return request;
  }

  std::shared_ptr<FakeSerialLine> line_;
  bool opened_ = false;
};

std::unique_ptr<SerialPort> FakeSerialLine::makePort() {
  return std::make_unique<FakeSerialPort>(shared_from_this());
}

std::vector<std::string> FakeSerialLine::callTexts() const {
  std::vector<std::string> texts;
  for (const SerialCall& call : calls()) texts.push_back(call.text);
  return texts;
}

Bytes FakeSerialLine::writtenBytes() const {
  Bytes all;
  for (const SerialCall& call : calls()) {
    if (call.text.rfind("write", 0) == 0)
      all.insert(all.end(), call.bytes.begin(), call.bytes.end());
  }
  return all;
}

}  // namespace loopmon::testing
