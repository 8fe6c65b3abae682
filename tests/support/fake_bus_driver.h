#pragma once
// A scripted bus driver device, absent until a test makes it present. Drivers
// made from it record every control call into the device; code 4 (fetch)
// hands out scripted results in order.

#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/serial/bus_driver.h"
#include "transport/frame.h"

namespace loopmon::testing {

struct DriverCall {
  uint32_t code = 0;
  Bytes input;
  uint32_t outputBytes = 0;  // size of the caller's output buffer
};

class FakeDriverDevice : public std::enable_shared_from_this<FakeDriverDevice> {
 public:
  // A driver handle on this device, for Platform::makeBusDriver.
  std::unique_ptr<BusDriver> makeDriver();

  // Whether open() succeeds (false: no driver installed).
  void setPresent(bool present) {
    locked([&] { present_ = present; });
  }
  // One code-4 result: the driver copies as many of `bytes` as the caller's
  // buffer takes, always from the first byte.
  void queueFetch(Bytes bytes) {
    locked([&] { fetches_.push_back(std::move(bytes)); });
  }
  // `emptyPolls` fetches that return nothing, then the answer's first two
  // bytes, then the whole answer.
  void queueAnswer(const Bytes& answer, int emptyPolls = 0) {
    for (int i = 0; i < emptyPolls; ++i) queueFetch({});
    queueFetch(Bytes(answer.begin(), answer.begin() + std::min<size_t>(2, answer.size())));
    queueFetch(answer);
  }

  std::vector<DriverCall> calls() const {
    return locked([&] { return calls_; });
  }
  std::vector<uint32_t> codes() const {
    std::vector<uint32_t> codes;
    for (const DriverCall& call : calls()) codes.push_back(call.code);
    return codes;
  }
  void clearCalls() {
    locked([&] { calls_.clear(); });
  }
  bool isOpen() const {
    return locked([&] { return open_; });
  }
  int opens() const {
    return locked([&] { return opens_; });
  }

 private:
  friend class FakeBusDriver;
  template <class Action>
  auto locked(Action action) const -> decltype(action()) {
    std::lock_guard lock(mutex_);
    return action();
  }

  mutable std::mutex mutex_;
  bool present_ = false;
  bool open_ = false;
  int opens_ = 0;
  std::deque<Bytes> fetches_;
  std::vector<DriverCall> calls_;
};

}  // namespace loopmon::testing
