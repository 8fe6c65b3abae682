#include "worker_harness.h"

#include <algorithm>

namespace loopmon::testing {

OwnerLoop::OwnerLoop() : thread_([this] { Run(); }) {}

OwnerLoop::~OwnerLoop() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void OwnerLoop::invokeSync(const std::function<void()>& call) {
  if (onOwnerThread()) {
    call();
    return;
  }
  std::mutex doneMutex;
  std::condition_variable doneChanged;
  bool done = false;
  post([&] {
    call();
    std::lock_guard lock(doneMutex);
    done = true;
    doneChanged.notify_all();
  });
  std::unique_lock lock(doneMutex);
  doneChanged.wait(lock, [&] { return done; });
}

void OwnerLoop::post(std::function<void()> call) {
  {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }
  changed_.notify_all();
}

size_t OwnerLoop::waiting() const {
  std::lock_guard lock(mutex_);
  return calls_.size();
}

void OwnerLoop::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return ending_ || !calls_.empty(); });
    if (calls_.empty()) return;
    auto call = std::move(calls_.front());
    calls_.pop_front();
    lock.unlock();
    call();
    lock.lock();
  }
}

void EventRecord::attach(TRSSession& session, const OwnerLoop* owner) {
  auto onOwner = [owner] { return owner && owner->onOwnerThread(); };
  session.OnLostDevice = [this, onOwner](uint8_t addr) {
    add({"lost", addr, 0, 0, 0, {}, {}, onOwner()});
  };
  session.OnNewDevice = [this, onOwner](uint8_t addr) {
    add({"new", addr, 0, 0, 0, {}, {}, onOwner()});
  };
  session.OnFalseDevice = [this, onOwner](uint8_t addr) {
    add({"false", addr, 0, 0, 0, {}, {}, onOwner()});
  };
  session.OnNewEvent = [this, onOwner](Bytes frame) {
    add({"event", frame[0], 0, 0, 0, frame, {}, onOwner()});
  };
  session.OnNewADC = [this, onOwner](const Bytes& event, uint8_t numEvent, uint8_t numShl,
                                     int32_t typeEvent, const void* data, int32_t lData) {
    Bytes copy;
    if (lData > 0)
      copy.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + lData);
    add({"adc", event.empty() ? uint8_t{0} : event[0], numShl, typeEvent, numEvent, event, copy,
         onOwner()});
  };
  session.OnNewTypeEventADC = [this, onOwner](uint8_t addr, uint8_t loop, int32_t type,
                                              int32_t kind) {
    add({"kind", addr, loop, kind, type, {}, {}, onOwner()});
  };
  session.OnAsynchAnswer = [this, onOwner](uint32_t postHandle, TMessage answer) {
    const auto* block = static_cast<const uint8_t*>(answer.LParam);
    add({"async",
         0,
         0,
         static_cast<int32_t>(answer.Msg),
         static_cast<int32_t>(postHandle),
         Bytes(block + 1, block + 1 + block[0]),
         {},
         onOwner()});
  };
}

void EventRecord::add(SeenEvent event) {
  {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  changed_.notify_all();
}

std::vector<SeenEvent> EventRecord::all() const {
  std::lock_guard lock(mutex_);
  return events_;
}

std::vector<SeenEvent> EventRecord::named(const std::string& name) const {
  std::vector<SeenEvent> found;
  for (const SeenEvent& event : all()) {
    if (event.name == name) found.push_back(event);
  }
  return found;
}

bool EventRecord::waitFor(const std::function<bool(const std::vector<SeenEvent>&)>& done,
                          std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return done(events_); });
}

bool EventRecord::waitForCount(const std::string& name, size_t count,
                               std::chrono::milliseconds limit) const {
  return waitFor(
      [&](const std::vector<SeenEvent>& events) {
        return static_cast<size_t>(
                   std::count_if(events.begin(), events.end(),
                                 [&](const SeenEvent& e) { return e.name == name; })) >= count;
      },
      limit);
}

Bytes answerFrame(uint8_t addr, uint8_t code, uint8_t data1, uint8_t data2) {
  Bytes frame{addr, 5, code, data1, data2};
  frame.push_back(FrameChecksum(frame));
  return frame;
}

void FakeDevices::attach(FakeSerialLine& line) {
  line.setWriteHook([this](const Bytes& bytes) { written(bytes); });
  line.setResponder([this](const Bytes&) {
    std::lock_guard lock(mutex_);
    std::optional<Bytes> answer = std::move(pending_);
    pending_.reset();
    return answer;
  });
}

void FakeDevices::written(const Bytes& bytes) {
  // The exchange writes a frame's bytes, then its checksum on its own.
  if (bytes.size() > 1) {
    frame_ = bytes;
    return;
  }
  frame_.insert(frame_.end(), bytes.begin(), bytes.end());
  std::optional<Bytes> reply = answer(frame_);
  std::lock_guard lock(mutex_);
  pending_ = std::move(reply);
}

void FakeDevices::set(uint8_t addr, FakeDevice device) {
  std::lock_guard lock(mutex_);
  devices_[addr] = std::move(device);
}

void FakeDevices::change(uint8_t addr, const std::function<void(FakeDevice&)>& edit) {
  std::lock_guard lock(mutex_);
  edit(devices_[addr]);
}

std::vector<Bytes> FakeDevices::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<Bytes> FakeDevices::requests(uint8_t command) const {
  std::vector<Bytes> found;
  for (const Bytes& request : requests()) {
    if (request.size() > 3 && request[3] == command) found.push_back(request);
  }
  return found;
}

bool FakeDevices::waitForCount(uint8_t command, size_t count,
                               std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] {
    return static_cast<size_t>(std::count_if(
               requests_.begin(), requests_.end(),
               [&](const Bytes& r) { return r.size() > 3 && r[3] == command; })) >= count;
  });
}

std::optional<Bytes> FakeDevices::answer(const Bytes& request) {
  std::lock_guard lock(mutex_);
  requests_.push_back(request);
  changed_.notify_all();
  if (request.size() < 6) return std::nullopt;
  const uint8_t addr = request[0];
  auto found = devices_.find(addr);
  if (found == devices_.end() || found->second.silent) return std::nullopt;
  FakeDevice& device = found->second;
  const uint8_t command = request[3];
  const uint8_t data1 = request[4];
  const uint8_t data2 = request[5];
  switch (command) {
    case 0x01:
      if (!device.pollEvents.empty()) {
        const auto [event, loop] = device.pollEvents.front();
        device.pollEvents.pop_front();
        return answerFrame(addr, device.pollCode, event, loop);
      }
      return answerFrame(addr, device.pollCode == 4 ? uint8_t{2} : device.pollCode, 0, 0);
    case 0x0D:
      if (!device.answersIdentify) return std::nullopt;
      return answerFrame(addr, 0, device.type, 100);
    case 0x19: {
      const auto state = device.loopStates.find(data1);
      return answerFrame(addr, 26, data1,
                         state == device.loopStates.end() ? uint8_t{0} : state->second);
    }
    case 0x1B:
      return answerFrame(addr, 0x1C, data1, device.adc[data1]);
    case 0x39:
      if (data2 == 1) {
        const auto kind = device.lineKinds.find(data1);
        if (kind == device.lineKinds.end()) return answerFrame(addr, 0x3A, 0, 2);
        return answerFrame(addr, 0x3A, 1, kind->second);
      }
      if (device.refusedLoops.count(data1)) return answerFrame(addr, 0x3A, 0, 2);
      return answerFrame(addr, 0x3A, 4, device.adc[data1]);
    default:
      return std::nullopt;
  }
}

}  // namespace loopmon::testing
