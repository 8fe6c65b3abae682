#include "fake_serial_port.h"

#include <algorithm>
#include <cstdio>

namespace loopmon::testing {

namespace {

const char* purgeName(PurgeAction action) {
  switch (action) {
    case PurgeAction::TxClear:
      return "TxClear";
    case PurgeAction::TxAbort:
      return "TxAbort";
    case PurgeAction::RxClear:
      return "RxClear";
    case PurgeAction::RxAbort:
      return "RxAbort";
  }
  return "?";
}

std::string hex(const Bytes& bytes) {
  std::string text;
  char buffer[4];
  for (uint8_t b : bytes) {
    std::snprintf(buffer, sizeof buffer, " %02X", b);
    text += buffer;
  }
  return text;
}

}  // namespace

std::string SerialCall::text() const {
  using K = Kind;
  switch (kind) {
    case K::Open:
      return "open " + portName + (succeeded ? "" : " failed");
    case K::Close:
      return "close";
    case K::GetState:
      return "getState";
    case K::SetState:
      return "setState " + std::to_string(state.baudRate) + "," + std::to_string(state.byteSize) +
             "," + std::to_string(state.parity) + "," + std::to_string(state.stopBits) +
             (state.dtrControlAuto ? " dtrAuto" : "") + (state.rtsControlAuto ? " rtsAuto" : "") +
             (state.abortOnError ? " abortOnError" : "");
    case K::SetupQueues:
      return "queues " + std::to_string(receiveQueue) + "," + std::to_string(transmitQueue);
    case K::GetTimeouts:
      return "getTimeouts";
    case K::SetTimeouts:
      return "timeouts " + std::to_string(timeouts.readIntervalMs) + "," +
             std::to_string(timeouts.readTotalMultiplierMs) + "," +
             std::to_string(timeouts.readTotalConstantMs) + "," +
             std::to_string(timeouts.writeTotalMultiplierMs) + "," +
             std::to_string(timeouts.writeTotalConstantMs);
    case K::Purge:
      return std::string("purge ") + purgeName(purge);
    case K::Dtr:
      return on ? "dtr 1" : "dtr 0";
    case K::Rts:
      return on ? "rts 1" : "rts 0";
    case K::LineErrors:
      return "errors " + std::to_string(errors);
    case K::Read:
      return "read " + std::to_string(requested) + " -> " + std::to_string(bytes.size());
    case K::Write:
      return "write" + hex(bytes);
  }
  return "?";
}

class FakeSerialPort : public SerialPort {
 public:
  explicit FakeSerialPort(std::shared_ptr<FakeSerialLine> line) : line_(std::move(line)) {}

  bool open(const std::string& name) override {
    std::lock_guard lock(line_->mutex_);
    SerialCall& call = log(SerialCall::Kind::Open);
    call.portName = name;
    if (line_->failOpens_ != 0) {
      if (line_->failOpens_ > 0) --line_->failOpens_;
      call.succeeded = false;
      line_->open_ = false;
    } else {
      // A freshly opened port has DTR and RTS off and an empty receive buffer;
      // a device still answers a request written before the reopen.
      line_->open_ = true;
      line_->dtr_ = line_->rts_ = false;
      line_->received_.clear();
    }
    opened_ = line_->open_;
    return opened_;
  }

  void close() override {
    std::lock_guard lock(line_->mutex_);
    log(SerialCall::Kind::Close);
    line_->open_ = opened_ = false;
  }

  bool isOpen() const override { return opened_; }

  bool getState(CommState& state) override {
    std::lock_guard lock(line_->mutex_);
    log(SerialCall::Kind::GetState);
    state = line_->state_;
    return opened_;
  }

  bool setState(const CommState& state) override {
    std::lock_guard lock(line_->mutex_);
    SerialCall& call = log(SerialCall::Kind::SetState);
    call.state = state;
    if (opened_) line_->state_ = state;
    return opened_;
  }

  bool setupQueues(uint32_t receiveBytes, uint32_t transmitBytes) override {
    std::lock_guard lock(line_->mutex_);
    SerialCall& call = log(SerialCall::Kind::SetupQueues);
    call.receiveQueue = receiveBytes;
    call.transmitQueue = transmitBytes;
    return opened_;
  }

  bool getTimeouts(CommTimeouts& timeouts) override {
    std::lock_guard lock(line_->mutex_);
    log(SerialCall::Kind::GetTimeouts);
    timeouts = line_->timeouts_;
    return opened_;
  }

  bool setTimeouts(const CommTimeouts& timeouts) override {
    std::lock_guard lock(line_->mutex_);
    SerialCall& call = log(SerialCall::Kind::SetTimeouts);
    call.timeouts = timeouts;
    if (opened_) line_->timeouts_ = timeouts;
    return opened_;
  }

  bool purge(PurgeAction action) override {
    std::lock_guard lock(line_->mutex_);
    SerialCall& call = log(SerialCall::Kind::Purge);
    call.purge = action;
    if (opened_ && action == PurgeAction::RxClear) line_->received_.clear();
    return opened_;
  }

  bool setDtr(bool on) override {
    std::lock_guard lock(line_->mutex_);
    SerialCall& call = log(SerialCall::Kind::Dtr);
    call.on = on;
    if (opened_) line_->dtr_ = on;
    return opened_;
  }

  bool setRts(bool on) override {
    std::lock_guard lock(line_->mutex_);
    SerialCall& call = log(SerialCall::Kind::Rts);
    call.on = on;
    if (opened_) line_->rts_ = on;
    return opened_;
  }

  uint32_t takeLineErrors() override {
    std::lock_guard lock(line_->mutex_);
    uint32_t flags = 0;
    if (opened_ && !line_->lineErrors_.empty()) {
      flags = line_->lineErrors_.front();
      line_->lineErrors_.pop_front();
    }
    SerialCall& call = log(SerialCall::Kind::LineErrors);
    call.errors = flags;
    return flags;
  }

  size_t read(uint8_t* buffer, size_t count) override {
    int64_t startedAt;
    Bytes request;
    FakeSerialLine::Responder responder;
    {
      std::lock_guard lock(line_->mutex_);
      startedAt = line_->now();
      if (opened_ && !line_->sinceRead_.empty()) {
        request = line_->takeRequestLocked();
        if (!line_->answers_.empty()) {
          Bytes answer = std::move(line_->answers_.front());
          line_->answers_.pop_front();
          line_->received_.insert(line_->received_.end(), answer.begin(), answer.end());
          request.clear();
        } else {
          responder = line_->responder_;
        }
      }
    }
    // The responder runs unlocked so that it may look at the line.
    std::optional<Bytes> answer;
    if (responder && !request.empty()) answer = responder(request);

    std::lock_guard lock(line_->mutex_);
    if (answer) line_->received_.insert(line_->received_.end(), answer->begin(), answer->end());
    SerialCall& call = log(SerialCall::Kind::Read);
    call.atMicros = startedAt;
    call.timeouts = line_->timeouts_;
    call.requested = count;
    if (opened_) {
      size_t take = std::min(count, line_->received_.size());
      for (size_t i = 0; i < take; ++i) {
        buffer[i] = line_->received_.front();
        call.bytes.push_back(line_->received_.front());
        line_->received_.pop_front();
      }
      // A short read lasts until the total time-out has run out.
      if (take < count && line_->clock_) {
        const CommTimeouts& t = line_->timeouts_;
        line_->clock_->advanceMs(int64_t{t.readTotalMultiplierMs} * static_cast<int64_t>(count) +
                                 t.readTotalConstantMs);
      }
    }
    size_t delivered = call.bytes.size();
    return delivered;
  }

  size_t write(const uint8_t* buffer, size_t count) override {
    Bytes bytes(buffer, buffer + count);
    std::function<void(const Bytes&)> hook;
    {
      std::lock_guard lock(line_->mutex_);
      SerialCall& call = log(SerialCall::Kind::Write);
      call.bytes = bytes;
      if (!opened_) return 0;
      line_->sinceRead_.insert(line_->sinceRead_.end(), bytes.begin(), bytes.end());
      hook = line_->writeHook_;
    }
    if (hook) hook(bytes);
    return count;
  }

 private:
  // Appends a call stamped with the current fake time; the line's lock is held.
  SerialCall& log(SerialCall::Kind kind) {
    SerialCall& call = line_->calls_.emplace_back();
    call.kind = kind;
    call.atMicros = line_->now();
    return call;
  }

  std::shared_ptr<FakeSerialLine> line_;
  bool opened_ = false;
};

FakeSerialLine::FakeSerialLine(std::shared_ptr<FakeClock> clock) : clock_(std::move(clock)) {}

std::unique_ptr<SerialPort> FakeSerialLine::makePort() {
  return std::make_unique<FakeSerialPort>(shared_from_this());
}

int64_t FakeSerialLine::now() const {
  return clock_ ? clock_->nowMicros() : 0;
}

Bytes FakeSerialLine::takeRequestLocked() {
  Bytes request = std::move(sinceRead_);
  sinceRead_.clear();
  // Drop the padding that follows the checksum.
  if (request.size() >= 2 && size_t{request[1]} + 1 < request.size()) {
    request.resize(size_t{request[1]} + 1);
  }
  return request;
}

void FakeSerialLine::queueAnswer(Bytes answer) {
  std::lock_guard lock(mutex_);
  answers_.push_back(std::move(answer));
}

void FakeSerialLine::setResponder(Responder responder) {
  std::lock_guard lock(mutex_);
  responder_ = std::move(responder);
}

void FakeSerialLine::injectReceived(const Bytes& bytes) {
  std::lock_guard lock(mutex_);
  received_.insert(received_.end(), bytes.begin(), bytes.end());
}

void FakeSerialLine::queueLineErrors(uint32_t flags) {
  std::lock_guard lock(mutex_);
  lineErrors_.push_back(flags);
}

void FakeSerialLine::failOpens(int count) {
  std::lock_guard lock(mutex_);
  failOpens_ = count;
}

void FakeSerialLine::setWriteHook(std::function<void(const Bytes&)> hook) {
  std::lock_guard lock(mutex_);
  writeHook_ = std::move(hook);
}

std::vector<SerialCall> FakeSerialLine::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<std::string> FakeSerialLine::callTexts() const {
  std::vector<std::string> texts;
  for (const SerialCall& call : calls()) texts.push_back(call.text());
  return texts;
}

void FakeSerialLine::clearCalls() {
  std::lock_guard lock(mutex_);
  calls_.clear();
}

Bytes FakeSerialLine::writtenBytes() const {
  Bytes all;
  for (const SerialCall& call : calls()) {
    if (call.kind == SerialCall::Kind::Write)
      all.insert(all.end(), call.bytes.begin(), call.bytes.end());
  }
  return all;
}

bool FakeSerialLine::isOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

bool FakeSerialLine::dtr() const {
  std::lock_guard lock(mutex_);
  return dtr_;
}

bool FakeSerialLine::rts() const {
  std::lock_guard lock(mutex_);
  return rts_;
}

CommState FakeSerialLine::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

CommTimeouts FakeSerialLine::timeouts() const {
  std::lock_guard lock(mutex_);
  return timeouts_;
}

size_t FakeSerialLine::pendingReceived() const {
  std::lock_guard lock(mutex_);
  return received_.size();
}

}  // namespace loopmon::testing
