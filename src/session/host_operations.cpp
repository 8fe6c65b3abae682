// What a host uses to give the worker its work: the poll schedule, the
// request ring, the ADC period, the lost thresholds and the asynchronous list.
// Values the worker reads without a lock are changed with the worker switched
// off, the way a direct request does; the ring and the list have locks.

#include <algorithm>
#include <cstring>

#include "session/worker.h"

namespace loopmon {

namespace {

constexpr size_t PollListEntries = 2500;
constexpr size_t RingSlotBytes = 64;

// Switches the worker off for the lifetime of the pause and then puts back
// what it found.
class WorkerPause {
 public:
  explicit WorkerPause(SessionCore& session) : session_(session), wasWorking_(session.Work()) {
    session_.SetWork(false);
  }
  ~WorkerPause() { session_.SetWork(wasWorking_); }
  WorkerPause(const WorkerPause&) = delete;
  WorkerPause& operator=(const WorkerPause&) = delete;

 private:
  SessionCore& session_;
  bool wasWorking_;
};

}  // namespace

bool SessionCore::SetPollSchedule(const std::vector<uint8_t>& addresses) {
  if (addresses.size() > PollListEntries) return false;
  for (uint8_t addr : addresses) {
    if (addr > 127) return false;
  }
  WorkerPause pause(*this);
  PollList.fill(0);
  std::copy(addresses.begin(), addresses.end(), PollList.begin() + 1);
  PollCount = static_cast<uint16_t>(addresses.size());
  PollIndex = 0;
  return true;
}

bool SessionCore::QueueRequest(const Bytes& request) {
  std::lock_guard lock(RingLock);
  const uint8_t slot = static_cast<uint8_t>(RingTail + 1);
  if (slot == RingHead) return false;
  CommandRing[slot].assign(request.begin(), request.begin() + static_cast<long>(std::min(
                                                                  request.size(), RingSlotBytes)));
  RingTail = slot;
  return true;
}

void SessionCore::SetAdcPeriod(uint32_t periodMs) {
  WorkerPause pause(*this);
  AdcPeriod = periodMs;
}

void SessionCore::SetLostThresholds(int32_t deviceTimeout, uint8_t pollWeight) {
  WorkerPause pause(*this);
  Settings.DeviceTimeout = deviceTimeout;
  for (int addr = 1; addr <= 127; ++addr) PollWeight[addr] = pollWeight;
}

bool SessionCore::PostAsyncCommand(uint32_t postHandle, uint32_t msg, int32_t wParam,
                                   const Bytes& request) {
  if (msg == SessionMessage::Device) return false;
  // Sized once and filled: GCC 12 warns of bounds it invents on an insert
  // that grows a one-byte vector.
  const size_t length = std::min<size_t>(request.size(), AsyncBlockBytes - 1);
  Bytes shortString(length + 1);
  shortString[0] = static_cast<uint8_t>(length);
  std::copy_n(request.begin(), length, shortString.begin() + 1);
  std::lock_guard lock(AsyncLock);
  AsyncList.push_back({postHandle, {msg, wParam, NewAsyncBlock(shortString, AsyncBlockBytes), 0}});
  return true;
}

void SessionCore::SubscribeLoop(uint8_t addr, uint8_t loop, const Bytes& data) {
  const int32_t total = static_cast<int32_t>(6 + data.size());
  Bytes block(sizeof total);
  std::memcpy(block.data(), &total, sizeof total);
  block.push_back(addr);
  block.push_back(loop);
  block.insert(block.end(), data.begin(), data.end());
  std::lock_guard lock(AsyncLock);
  AsyncList.push_back(
      {0, {SessionMessage::Device, AsyncRequest::AddLoop, NewAsyncBlock(block, block.size()), 0}});
}

void SessionCore::UnsubscribeLoop(uint8_t addr, uint8_t loop) {
  std::lock_guard lock(AsyncLock);
  AsyncList.push_back(
      {0, {SessionMessage::Device, AsyncRequest::RemoveLoop, NewAsyncBlock({addr, loop}, 2), 0}});
}

void SessionCore::UnsubscribeDevice(uint8_t addr) {
  std::lock_guard lock(AsyncLock);
  AsyncList.push_back(
      {0, {SessionMessage::Device, AsyncRequest::RemoveDevice, NewAsyncBlock({addr}, 1), 0}});
}

void SessionCore::UnsubscribeAll() {
  std::lock_guard lock(AsyncLock);
  AsyncList.push_back({0, {SessionMessage::Device, AsyncRequest::RemoveAll, nullptr, 0}});
}

}  // namespace loopmon
