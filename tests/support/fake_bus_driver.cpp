#include "fake_bus_driver.h"

#include <algorithm>
#include <cstring>

namespace loopmon::testing {

class FakeBusDriver : public BusDriver {
 public:
  explicit FakeBusDriver(std::shared_ptr<FakeDriverDevice> device) : device_(std::move(device)) {}

  bool open() override {
    std::lock_guard lock(device_->mutex_);
    ++device_->opens_;
    opened_ = device_->present_;
    device_->open_ = opened_;
    return opened_;
  }

  void close() override {
    std::lock_guard lock(device_->mutex_);
    device_->open_ = opened_ = false;
  }

  bool isOpen() const override { return opened_; }

  uint32_t control(uint32_t code, const void* input, uint32_t inputBytes, void* output,
                   uint32_t outputBytes) override {
    return device_->control(code, input, inputBytes, output, outputBytes);
  }

 private:
  std::shared_ptr<FakeDriverDevice> device_;
  bool opened_ = false;
};

FakeDriverDevice::FakeDriverDevice(std::shared_ptr<FakeClock> clock) : clock_(std::move(clock)) {}

std::unique_ptr<BusDriver> FakeDriverDevice::makeDriver() {
  return std::make_unique<FakeBusDriver>(shared_from_this());
}

uint32_t FakeDriverDevice::control(uint32_t code, const void* input, uint32_t inputBytes,
                                   void* output, uint32_t outputBytes) {
  DriverCall call;
  call.code = code;
  call.outputBytes = outputBytes;
  if (input && inputBytes) {
    const auto* in = static_cast<const uint8_t*>(input);
    call.input.assign(in, in + inputBytes);
  }
  std::optional<Bytes> answer;
  Responder responder;
  {
    std::lock_guard lock(mutex_);
    responder = responder_;
  }
  if (code == DriverCode::SendReceive && responder) answer = responder(call.input);

  std::lock_guard lock(mutex_);
  call.atMicros = clock_ ? clock_->nowMicros() : 0;
  if (answer) {
    fetches_.push_back(
        Bytes(answer->begin(), answer->begin() + std::min<size_t>(2, answer->size())));
    fetches_.push_back(*answer);
  }
  if (code == DriverCode::Bind || code == DriverCode::Release) {
    call.returned = std::min<uint32_t>(4, outputBytes);
    if (output) std::memset(output, 0, call.returned);
  } else if (code == DriverCode::Fetch && !fetches_.empty()) {
    Bytes bytes = std::move(fetches_.front());
    fetches_.pop_front();
    call.returned = static_cast<uint32_t>(std::min<size_t>(bytes.size(), outputBytes));
    if (output && call.returned) std::memcpy(output, bytes.data(), call.returned);
  }
  calls_.push_back(call);
  return call.returned;
}

void FakeDriverDevice::setPresent(bool present) {
  std::lock_guard lock(mutex_);
  present_ = present;
}

void FakeDriverDevice::queueFetch(Bytes bytes) {
  std::lock_guard lock(mutex_);
  fetches_.push_back(std::move(bytes));
}

void FakeDriverDevice::queueAnswer(const Bytes& answer, int emptyPolls) {
  std::lock_guard lock(mutex_);
  for (int i = 0; i < emptyPolls; ++i) fetches_.push_back({});
  fetches_.push_back(Bytes(answer.begin(), answer.begin() + std::min<size_t>(2, answer.size())));
  fetches_.push_back(answer);
}

void FakeDriverDevice::setResponder(Responder responder) {
  std::lock_guard lock(mutex_);
  responder_ = std::move(responder);
}

std::vector<DriverCall> FakeDriverDevice::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<uint32_t> FakeDriverDevice::codes() const {
  std::vector<uint32_t> codes;
  for (const DriverCall& call : calls()) codes.push_back(call.code);
  return codes;
}

void FakeDriverDevice::clearCalls() {
  std::lock_guard lock(mutex_);
  calls_.clear();
}

bool FakeDriverDevice::isOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

int FakeDriverDevice::opens() const {
  std::lock_guard lock(mutex_);
  return opens_;
}

}  // namespace loopmon::testing
