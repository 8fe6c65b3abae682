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
    return opened_ = device_->open_ = device_->present_;
  }

  void close() override {
    std::lock_guard lock(device_->mutex_);
    device_->open_ = opened_ = false;
  }

  bool isOpen() const override { return opened_; }

  uint32_t control(uint32_t code, const void* input, uint32_t inputBytes, void* output,
                   uint32_t outputBytes) override {
    std::lock_guard lock(device_->mutex_);
    const auto* in = static_cast<const uint8_t*>(input);
    device_->calls_.push_back({code, in ? Bytes(in, in + inputBytes) : Bytes{}, outputBytes});
    Bytes result;
    if (code == DriverCode::Bind || code == DriverCode::Release) {
      result.assign(4, 0);
    } else if (code == DriverCode::Fetch && !device_->fetches_.empty()) {
      result = std::move(device_->fetches_.front());
      device_->fetches_.pop_front();
    }
    const auto returned = static_cast<uint32_t>(std::min<size_t>(result.size(), outputBytes));
    if (output && returned) std::memcpy(output, result.data(), returned);
    return returned;
  }

 private:
  std::shared_ptr<FakeDriverDevice> device_;
  bool opened_ = false;
};

std::unique_ptr<BusDriver> FakeDriverDevice::makeDriver() {
  return std::make_unique<FakeBusDriver>(shared_from_this());
}

}  // namespace loopmon::testing
