#pragma once
// The state and the machinery behind TRSSession: the transport's part, the
// per-address tables, the request ring, the asynchronous list, the worker and
// its thread. Internal to the session; its own parts and their tests use it.

#include <array>
#include <atomic>
#include <bitset>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "session/session.h"
#include "session/session_thread.h"
#include "transport/bus_state.h"

namespace loopmon {

class SessionWorker;
struct PendingDelivery;

// The state behind a session, for the session's own parts and their tests.
SessionCore& CoreOf(TRSSession& session);

class SessionCore : public BusState {
 public:
  // `host` is the session whose handlers the hand-overs run. A null owner
  // runs them on whichever thread hands over.
  SessionCore(TRSSession& host, Platform platform, std::shared_ptr<OwnerDispatcher> owner);
  ~SessionCore() override;

  bool Work() const { return Work_.load(); }
  void SetWork(bool value);
  void SetComPort(int32_t port);
  void SetPortPath(const std::string& name);
  uint8_t SearchPriority() const { return SearchPriority_; }
  void SetSearchPriority(uint8_t value);

  bool DirectRequest(const Bytes& request, uint8_t mode);
  bool ProbeOnce(const Bytes& request, uint8_t mode, uint32_t shortLimitMs);
  bool WorkerRequest(const Bytes& request, uint8_t mode);
  bool ShortRequest(const Bytes& request, uint8_t mode);

  uint16_t GetDeviceType(uint8_t addr) const;
  void SetDeviceType(uint8_t addr, uint16_t value);
  uint8_t DeviceVersion(uint8_t addr) const;
  void SetDeviceVersion(uint8_t addr, uint8_t value);
  std::string DescribeDevice(uint8_t addr, char separator) const;
  SessionStatistics Statistics() const;

  // Hands a message to the host's MessageHandler on the owner's thread and
  // waits.
  void SendToOwner(uint32_t msg, int32_t wParam, void* lParam);
  // SendToOwner; from the worker, with the worker counted off the bus while
  // the handler runs. False when the worker was switched off meanwhile.
  bool HandOverToOwner(uint32_t msg, int32_t wParam, void* lParam);

  // Host operations (host_operations.cpp), as TRSSession describes them.
  bool SetPollSchedule(const std::vector<uint8_t>& addresses);
  bool QueueRequest(const Bytes& request);
  void SetAdcPeriod(uint32_t periodMs);
  void SetLostThresholds(int32_t deviceTimeout, uint8_t pollWeight);
  bool PostAsyncCommand(uint32_t postHandle, uint32_t msg, int32_t wParam, const Bytes& request);
  void SubscribeLoop(uint8_t addr, uint8_t loop, const Bytes& data);
  void UnsubscribeLoop(uint8_t addr, uint8_t loop);
  void UnsubscribeDevice(uint8_t addr);
  void UnsubscribeAll();

  std::array<uint16_t, 128> DeviceTypes{};
  TDeviceA DeviceSet;
  std::array<uint8_t, 129> PollWeight{};
  std::array<int32_t, 128> MissCount{};
  std::array<double, 128> LastAnswerTime{};
  std::array<uint8_t, 128> DeviceVersions{};
  std::array<uint8_t, 2501> PollList{};
  uint16_t PollCount = 0;
  int32_t PollDivisor = 15;
  int32_t PollIndex = 0;

  uint32_t CycleCount = 0;
  uint32_t PollFailCount = 0;
  uint32_t PollFailRunCount = 0;
  uint32_t RequestCount = 0;
  uint32_t AttemptCount = 0;
  uint32_t AttemptFailCount = 0;
  uint32_t RequestFailCount = 0;
  bool PrevPollFailed = false;
  bool IsNT = false;
  bool IsNT5 = false;
  std::bitset<256> LostSet;
  std::array<Bytes, 256> CommandRing;
  uint8_t RingHead = 0;
  uint8_t RingTail = 0;
  uint32_t AdcPeriod = 0;

  // Guards AsyncList.
  std::mutex AsyncLock;
  std::vector<AsyncCommand> AsyncList;

 private:
  friend class SessionWorker;
  bool Request(const Bytes& request, uint8_t mode, int attempts, bool bookkeeping);
  // A request of the window's: the worker off meanwhile, the answer to LastAnswer.
  bool windowRequest(const Bytes& request, uint8_t mode, int attempts);

  TRSSession& host_;
  std::atomic<bool> Work_{false};
  uint8_t SearchPriority_ = 0;
  std::shared_ptr<OwnerDispatcher> owner_;
  std::unique_ptr<MarkerHold> InstanceMutex;
  std::unique_ptr<MarkerHold> BusMutex;
  std::unique_ptr<MarkerHold> VeltaMutex;
  // Guards CommandRing, RingHead and RingTail against hosts on other threads.
  std::mutex RingLock;
  // The hand-over the worker waits for. Destruction closes deliveries: the
  // waiting one is called off unless the owner runs it already, and no new
  // one starts, so the worker can be joined even from the owner's thread.
  void CloseDeliveries();
  std::mutex deliveryLock_;
  std::shared_ptr<PendingDelivery> delivery_;
  bool deliveriesClosed_ = false;
  std::unique_ptr<SessionWorker> worker_;
  std::unique_ptr<TRSSessionThread> Thread;
};

}  // namespace loopmon
