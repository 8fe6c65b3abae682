#pragma once
// What the worker tests share: an owner thread that runs hand-overs the way a
// window's message loop does, a record of the events the handlers saw, and
// devices that answer on the fake serial line.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "fake_serial_port.h"
#include "session/session_core.h"

namespace loopmon::testing {

// Checks `done` until it holds, for at most 20 s.
inline bool eventually(const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// The owner's thread: queued calls run one at a time, in order.
class OwnerLoop : public OwnerDispatcher {
 public:
  ~OwnerLoop() override {
    post({});
    thread_.join();
  }
  void invokeSync(const std::function<void()>& call) override {
    if (onOwnerThread()) return call();
    std::promise<void> done;
    post([&] {
      call();
      done.set_value();
    });
    done.get_future().wait();
  }
  void post(std::function<void()> call) override {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
    changed_.notify_all();
  }
  size_t waiting() const {
    std::lock_guard lock(mutex_);
    return calls_.size();
  }
  bool onOwnerThread() const { return std::this_thread::get_id() == thread_.get_id(); }

 private:
  // An empty call ends the loop.
  void run() {
    for (;;) {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return !calls_.empty(); });
      auto call = std::move(calls_.front());
      calls_.pop_front();
      lock.unlock();
      if (!call) return;
      call();
    }
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> calls_;
  std::thread thread_{[this] { run(); }};
};

struct SeenEvent {
  std::string name;  // "lost", "new", "false", "event", "adc", "kind"
  uint8_t addr;
  uint8_t loop = 0;
  int32_t value = 0;  // adc: TypeEvent; kind: TypeEventShl
  int32_t extra = 0;  // adc: NumEvent; kind: TypeDevice
  Bytes frame = {};   // event: the frame; adc: Event
  Bytes data = {};    // adc: the host's data
  bool onOwnerThread = false;
};

class EventRecord {
 public:
  // Assigns every event handler of `session`.
  void attach(TRSSession& session, const OwnerLoop* owner) {
    auto seen = [this, owner](SeenEvent event) {
      event.onOwnerThread = owner && owner->onOwnerThread();
      std::lock_guard lock(mutex_);
      events_.push_back(std::move(event));
    };
    session.OnLostDevice = [seen](uint8_t addr) { seen({"lost", addr}); };
    session.OnNewDevice = [seen](uint8_t addr) { seen({"new", addr}); };
    session.OnFalseDevice = [seen](uint8_t addr) { seen({"false", addr}); };
    session.OnNewEvent = [seen](Bytes frame) { seen({"event", frame[0], 0, 0, 0, frame}); };
    session.OnNewADC = [seen](const Bytes& event, uint8_t numEvent, uint8_t numShl, int32_t type,
                              const void* data, int32_t lData) {
      const auto* bytes = static_cast<const uint8_t*>(data);
      seen({"adc", event.empty() ? uint8_t{0} : event[0], numShl, type, numEvent, event,
            lData > 0 ? Bytes(bytes, bytes + lData) : Bytes{}});
    };
    session.OnNewTypeEventADC = [seen](uint8_t addr, uint8_t loop, int32_t type, int32_t kind) {
      seen({"kind", addr, loop, kind, type});
    };
  }
  std::vector<SeenEvent> named(const std::string& name) const {
    std::lock_guard lock(mutex_);
    std::vector<SeenEvent> found;
    std::copy_if(events_.begin(), events_.end(), std::back_inserter(found),
                 [&](const SeenEvent& e) { return e.name == name; });
    return found;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<SeenEvent> events_;
};

inline Bytes answerFrame(uint8_t addr, uint8_t code, uint8_t data1, uint8_t data2) {
  Bytes frame{addr, 5, code, data1, data2};
  frame.push_back(FrameChecksum(frame));
  return frame;
}

struct FakeDevice {
  uint8_t type = 1;
  // Code of the answer to a poll; 4, 12 or 14 with `pollEvents` is an event.
  uint8_t pollCode = 2;
  std::deque<std::pair<uint8_t, uint8_t>> pollEvents = {};  // (event code, loop), one per poll
  std::map<uint8_t, uint8_t> adc = {};                      // loop -> reading
  std::map<uint8_t, uint8_t> lineKinds = {};  // loop -> kind code of command 0x39 query 1
  std::set<uint8_t> refusedLoops = {};        // 0x39 query 4 answered with the refusal
};

class FakeDevices {
 public:
  // Hears every frame written, also those that await no answer, and answers
  // at the next read. The exchange writes a frame's bytes, then its checksum
  // on its own.
  void attach(FakeSerialLine& line) {
    line.setWriteHook([this](const Bytes& bytes) {
      if (bytes.size() > 1) {
        frame_ = bytes;
        return;
      }
      frame_.insert(frame_.end(), bytes.begin(), bytes.end());
      std::lock_guard lock(mutex_);
      pending_ = answer(frame_);
    });
    line.setResponder([this](const Bytes&) {
      std::lock_guard lock(mutex_);
      return std::exchange(pending_, std::nullopt);
    });
  }
  void set(uint8_t addr, FakeDevice device) {
    std::lock_guard lock(mutex_);
    devices_[addr] = std::move(device);
  }
  void change(uint8_t addr, const std::function<void(FakeDevice&)>& edit) {
    std::lock_guard lock(mutex_);
    edit(devices_[addr]);
  }
  // Requests heard (with command `command` at offset 3 unless 0), in order.
  std::vector<Bytes> requests(uint8_t command = 0) const {
    std::lock_guard lock(mutex_);
    std::vector<Bytes> found;
    std::copy_if(requests_.begin(), requests_.end(), std::back_inserter(found),
                 [&](const Bytes& r) { return command == 0 || r[3] == command; });
    return found;
  }
  size_t count(uint8_t command) const { return requests(command).size(); }

 private:
  std::optional<Bytes> answer(const Bytes& request) {
    if (request.size() < 6) return std::nullopt;
    requests_.push_back(request);
    auto found = devices_.find(request[0]);
    if (found == devices_.end()) return std::nullopt;
    FakeDevice& device = found->second;
    const uint8_t addr = request[0];
    const uint8_t loop = request[4];
    switch (request[3]) {
      case 0x01:
        if (!device.pollEvents.empty()) {
          const auto [event, eventLoop] = device.pollEvents.front();
          device.pollEvents.pop_front();
          return answerFrame(addr, device.pollCode, event, eventLoop);
        }
        return answerFrame(addr, device.pollCode == 4 ? uint8_t{2} : device.pollCode, 0, 0);
      case 0x0D:
        return answerFrame(addr, 0, device.type, 100);
      case 0x1B:
        return answerFrame(addr, 0x1C, loop, device.adc[loop]);
      case 0x39:
        if (request[5] == 1) {
          const auto kind = device.lineKinds.find(loop);
          if (kind == device.lineKinds.end()) return answerFrame(addr, 0x3A, 0, 2);
          return answerFrame(addr, 0x3A, 1, kind->second);
        }
        if (device.refusedLoops.count(loop)) return answerFrame(addr, 0x3A, 0, 2);
        return answerFrame(addr, 0x3A, 4, device.adc[loop]);
      default:
        return std::nullopt;
    }
  }

  mutable std::mutex mutex_;
  Bytes frame_;
  std::optional<Bytes> pending_;
  std::map<uint8_t, FakeDevice> devices_;
  std::vector<Bytes> requests_;
};

}  // namespace loopmon::testing
