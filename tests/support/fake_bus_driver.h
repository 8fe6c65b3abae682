#pragma once
// A scripted bus driver device. Drivers made from it record every control call
// into the device; code 4 (fetch) hands out scripted results in order.

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "fake_clock.h"
#include "platform/bus_driver.h"
#include "transport/frame.h"

namespace loopmon::testing {

struct DriverCall {
  uint32_t code = 0;
  Bytes input;
  uint32_t outputBytes = 0;  // size of the caller's output buffer
  uint32_t returned = 0;     // bytes reported back
  int64_t atMicros = 0;
};

class FakeDriverDevice : public std::enable_shared_from_this<FakeDriverDevice> {
 public:
  // Sees the frame of a code-3 call and returns the answer, which is then
  // fetched as queueAnswer would script it.
  using Responder = std::function<std::optional<Bytes>(const Bytes& frame)>;

  explicit FakeDriverDevice(std::shared_ptr<FakeClock> clock = nullptr);

  // A driver handle on this device, for Platform::makeBusDriver.
  std::unique_ptr<BusDriver> makeDriver();

  // --- Script ---
  // Whether open() succeeds (false: no driver installed).
  void setPresent(bool present);
  // One code-4 result: the driver copies as many of `bytes` as the caller's
  // buffer takes, always from the first byte.
  void queueFetch(Bytes bytes);
  // `emptyPolls` fetches that return nothing, then the answer's first two
  // bytes, then the whole answer.
  void queueAnswer(const Bytes& answer, int emptyPolls = 0);
  void setResponder(Responder responder);

  // --- Inspection ---
  std::vector<DriverCall> calls() const;
  std::vector<uint32_t> codes() const;
  void clearCalls();
  bool isOpen() const;
  int opens() const;

 private:
  friend class FakeBusDriver;
  uint32_t control(uint32_t code, const void* input, uint32_t inputBytes, void* output,
                   uint32_t outputBytes);

  std::shared_ptr<FakeClock> clock_;
  mutable std::mutex mutex_;
  bool present_ = true;
  bool open_ = false;
  int opens_ = 0;
  std::deque<Bytes> fetches_;
  Responder responder_;
  std::vector<DriverCall> calls_;
};

}  // namespace loopmon::testing
