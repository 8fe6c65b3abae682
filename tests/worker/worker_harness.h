#pragma once
// What the worker tests share: an owner thread that runs hand-overs the way a
// window's message loop does, a record of every event the handlers saw, and a
// small set of devices that answer on the fake serial line.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fake_serial_port.h"
#include "session/rssess.h"

namespace loopmon::testing {

// The owner's thread: queued calls run one at a time, in order.
class OwnerLoop : public OwnerDispatcher {
 public:
  OwnerLoop();
  ~OwnerLoop() override;

  void invokeSync(const std::function<void()>& call) override;
  void post(std::function<void()> call) override;
  // Calls waiting in the queue.
  size_t waiting() const;
  bool onOwnerThread() const { return std::this_thread::get_id() == thread_.get_id(); }

 private:
  void Run();

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> calls_;
  bool ending_ = false;
  std::thread thread_;
};

// One event as a handler saw it.
struct SeenEvent {
  std::string name;  // "lost", "new", "false", "event", "adc", "kind", "async"
  uint8_t addr = 0;
  uint8_t loop = 0;
  int32_t value = 0;  // adc: TypeEvent; kind: TypeEventShl; async: Msg
  int32_t extra = 0;  // adc: NumEvent; kind: TypeDevice; async: PostHandle
  Bytes frame;        // event: the frame; adc: Event; async: the answer
  Bytes data;         // adc: the host's data
  bool onOwnerThread = false;
};

class EventRecord {
 public:
  // Assigns every handler of `session`; `owner` tells which thread runs them.
  void attach(TRSSession& session, const OwnerLoop* owner);
  void add(SeenEvent event);
  std::vector<SeenEvent> all() const;
  std::vector<SeenEvent> named(const std::string& name) const;
  // Waits until `done` holds for the record (at most `limit`).
  bool waitFor(const std::function<bool(const std::vector<SeenEvent>&)>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(20)) const;
  bool waitForCount(const std::string& name, size_t count,
                    std::chrono::milliseconds limit = std::chrono::seconds(20)) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<SeenEvent> events_;
};

struct FakeDevice {
  uint8_t type = 1;
  bool silent = false;
  // Code of the answer to a poll; 4, 12 or 14 with `pollEvents` is an event.
  uint8_t pollCode = 2;
  std::deque<std::pair<uint8_t, uint8_t>> pollEvents;  // (event code, loop), one per poll
  bool answersIdentify = true;
  std::map<uint8_t, uint8_t> adc;         // loop -> reading
  std::map<uint8_t, uint8_t> lineKinds;   // loop -> kind code of command 0x39 query 1
  std::set<uint8_t> refusedLoops;         // 0x39 query 4 answered with the refusal
  std::map<uint8_t, uint8_t> loopStates;  // loop -> state code of command 0x19
};

// Devices on a fake line; the tests change them while the worker runs.
class FakeDevices {
 public:
  // Hears every frame written to the line, also those that await no answer
  // (the line would hand the responder only the first frame written since
  // the last read), and answers at the next read.
  void attach(FakeSerialLine& line);

  void set(uint8_t addr, FakeDevice device);
  void change(uint8_t addr, const std::function<void(FakeDevice&)>& edit);
  // Every request heard, checksum included, in order.
  std::vector<Bytes> requests() const;
  // Requests with this command (offset 3), in order.
  std::vector<Bytes> requests(uint8_t command) const;
  size_t count(uint8_t command) const { return requests(command).size(); }
  bool waitForCount(uint8_t command, size_t count,
                    std::chrono::milliseconds limit = std::chrono::seconds(20)) const;

 private:
  std::optional<Bytes> answer(const Bytes& request);

  void written(const Bytes& bytes);

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  Bytes frame_;
  std::optional<Bytes> pending_;
  std::map<uint8_t, FakeDevice> devices_;
  std::vector<Bytes> requests_;
};

Bytes answerFrame(uint8_t addr, uint8_t code, uint8_t data1, uint8_t data2);

}  // namespace loopmon::testing
