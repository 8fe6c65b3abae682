#pragma once
// The worker's side of a session: the polling cycle, the decoding of device
// events, the asynchronous commands and the loop ADC subscriptions. Everything
// here runs on the worker thread, except construction and destruction.
//
// The worker touches the session's per-address state, its answer fields and
// the bus only while it counts as on the bus, which a switch-off waits for.
// A hand-over to the owner counts it off the bus; when the worker was switched
// off meanwhile, the rest of the cycle must leave all of that alone, because
// whoever switched it off may be using the bus already. DeviceSet, which a
// host may look at once the worker is off, is changed before hand-overs for
// the same reason.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "session/session_core.h"

namespace loopmon {

// Asynchronous request codes of message 1035.
namespace AsyncRequest {
inline constexpr int32_t RemoveDevice = 666;
inline constexpr int32_t RemoveLoop = 667;
inline constexpr int32_t RemoveAll = 668;
inline constexpr int32_t AddLoop = 669;
}  // namespace AsyncRequest

// A host's bus command travels in a block of this size: a count byte, then
// the frame.
inline constexpr size_t AsyncBlockBytes = 256;

// Class of a device event code in a frame with answer code 4 or 26, by where
// the frame came from: a poll, or a loop's kind determination. None for codes
// that ask for no reading.
std::optional<int32_t> EventClass(uint8_t event, uint8_t answerCode, bool fromPoll);

// Data blocks of AsyncCommand records: made by the host operations and by the
// worker, released by the worker once a record is carried out.
void* NewAsyncBlock(const Bytes& bytes, size_t size);
void ReleaseAsyncBlock(void* block);

class SessionWorker {
 public:
  explicit SessionWorker(SessionCore& session);
  // Releases the blocks still held by AsyncList and the private list.
  ~SessionWorker();
  SessionWorker(const SessionWorker&) = delete;
  SessionWorker& operator=(const SessionWorker&) = delete;

  // One pass of the cycle; the session's thread repeats it while switched on.
  void Cycle();
  // Told by the session when a hand-over found the worker switched off.
  void HandOverRefused() { stopped_ = true; }

 private:
  enum class Origin { Poll, Determination };
  enum class Kind { Readable, Unreadable };

  // worker.cpp
  bool Start();
  void Steps();
  bool Running() const;
  bool Deliver(int32_t code, void* lParam);
  void DrainRing();
  bool ChooseAddress(uint8_t& addr);
  void PollStep(uint8_t addr);
  void PollUnanswered(uint8_t addr);
  void PollAnswered(uint8_t addr, const Bytes& answer);
  // The worker's exchange of `request` with its device ended with `answer`
  // (empty: none).
  void NoteExchange(const Bytes& request, const Bytes& answer);

  // event_decoding.cpp
  void DecodeEvent(const Bytes& frame, Origin origin);
  void AsyncCommandStep();
  void TakeAsyncList();
  void CarryOutSubscriptionRequest(const AsyncCommand& record);
  void QueueSubscriptionRequest(int32_t request, const Bytes& data);

  // adc_subscriptions.cpp
  TStructDeviceA* FindDevice(uint8_t addr);
  static TLoopA* FindLoop(TStructDeviceA& device, uint8_t loop);
  void AddLoop(uint8_t addr, uint8_t loop, const uint8_t* data, size_t size);
  void RemoveLoop(uint8_t addr, uint8_t loop);
  void RemoveDevice(uint8_t addr);
  void RemoveAll();
  void AdcStep();
  void AdvanceCursors();
  // A read for a device event carries the event's class: the reading is
  // reported with it unless a kind determination ran first. `mayDetermine`
  // false: the loop's kind has just been determined, so the read goes ahead
  // with the command found even when the type is unknown. True when a
  // determination ran.
  bool ReadLoop(TStructDeviceA& device, TLoopA& entry, bool mayDetermine,
                std::optional<int32_t> eventClass = std::nullopt);
  void AdcExchange(const Bytes& request, uint8_t addr, TLoopA& entry, int32_t typeEvent);
  Kind DetermineKind(TStructDeviceA& device, const TLoopA& entry);
  void NotifySubscriptions(uint8_t addr, int32_t code);

  SessionCore& s_;
  bool started_ = false;
  // A hand-over of this cycle found the worker switched off.
  bool stopped_ = false;
  uint32_t lastAdcRequestMs_ = 0;
  // Per device, the worker's last request whose answer says what it answers
  // and that got no such answer: that answer may still come, late, to a later
  // request (a network that held it back), and is then not that one's.
  std::array<Bytes, 128> unanswered_;
  // Host commands taken over from AsyncList, each with its own 256-byte block.
  // What a stop leaves unanswered is answered by the next cycle.
  std::vector<AsyncCommand> privateList_;
};

}  // namespace loopmon
