// The hand-over of the worker's findings to the owner, the decoding of device
// event frames into readings, and the asynchronous command step.

#include <algorithm>
#include <cstring>
#include <optional>

#include "session/worker.h"

namespace loopmon {

namespace {

constexpr uint8_t EventAnswerCode = 4;
constexpr uint8_t LoopStateAnswerCode = 26;
constexpr int32_t ClassReadingByHost = -8;
constexpr int32_t ClassReadingByDevice = -9;

}  // namespace

// One hand-over from the worker: the owner's thread runs it unless the session
// calls it off first, which it does only while it is still waiting in the
// owner's queue. Shared with the queued call, which may outlive the session.
struct PendingDelivery {
  enum class State { Waiting, Running, Done, CalledOff };
  std::mutex lock;
  std::condition_variable changed;
  State state = State::Waiting;
};

void* NewAsyncBlock(const Bytes& bytes, size_t size) {
  auto* block = new uint8_t[size]();
  std::memcpy(block, bytes.data(), std::min(bytes.size(), size));
  return block;
}

void ReleaseAsyncBlock(void* block) {
  delete[] static_cast<uint8_t*>(block);
}

bool SessionCore::HandOverToOwner(uint32_t msg, int32_t wParam, void* lParam) {
  if (!Thread || !Thread->IsWorkerThread()) {
    SendToOwner(msg, wParam, lParam);
    return true;
  }
  const bool goOn = Thread->HandOver([&] {
    auto delivery = std::make_shared<PendingDelivery>();
    {
      std::lock_guard lock(deliveryLock_);
      if (deliveriesClosed_) return;
      delivery_ = delivery;
    }
    const TMessage message{msg, wParam, lParam, 0};
    owner_->post([this, delivery, message] {
      {
        std::lock_guard lock(delivery->lock);
        if (delivery->state == PendingDelivery::State::CalledOff) return;
        delivery->state = PendingDelivery::State::Running;
      }
      host_.MessageHandler(message);
      {
        std::lock_guard lock(delivery->lock);
        delivery->state = PendingDelivery::State::Done;
      }
      delivery->changed.notify_all();
    });
    {
      std::unique_lock lock(delivery->lock);
      delivery->changed.wait(lock, [&] {
        return delivery->state == PendingDelivery::State::Done ||
               delivery->state == PendingDelivery::State::CalledOff;
      });
    }
    std::lock_guard lock(deliveryLock_);
    delivery_.reset();
  });
  if (!goOn) worker_->HandOverRefused();
  return goOn;
}

void SessionCore::CloseDeliveries() {
  std::lock_guard lock(deliveryLock_);
  deliveriesClosed_ = true;
  if (!delivery_) return;
  {
    std::lock_guard deliveryLock(delivery_->lock);
    if (delivery_->state == PendingDelivery::State::Waiting) {
      delivery_->state = PendingDelivery::State::CalledOff;
    }
  }
  delivery_->changed.notify_all();
}

std::optional<int32_t> EventClass(uint8_t event, uint8_t answerCode, bool fromPoll) {
  switch (event) {
    case 3:
    case 36:
    case 37:
    case 44:
    case 58:
    case 149:
    case 214:
    case 216:
      return answerCode == EventAnswerCode ? -1 : -7;
    case 17:
      return fromPoll ? -5 : -11;
    case 24:
    case 35:
      return fromPoll ? -4 : -10;
    case 109:
      return fromPoll ? -6 : -12;
    case 117:
      return ClassReadingByHost;
    case 119:
      return ClassReadingByDevice;
    default:
      return std::nullopt;
  }
}

void SessionWorker::DecodeEvent(const Bytes& frame, Origin origin) {
  if (frame.size() < 6) return;
  const uint8_t addr = frame[FrameOffset::Address];
  const uint8_t answerCode = frame[FrameOffset::Code];
  uint8_t event = 0;
  uint8_t loop = 0;
  if (answerCode == EventAnswerCode) {
    event = frame[AnswerField::EventCode];
    loop = frame[AnswerField::EventLoop];
  } else if (answerCode == LoopStateAnswerCode) {
    loop = frame[AnswerField::StateLoop];
    event = frame[AnswerField::StateCode];
  } else {
    return;
  }
  const std::optional<int32_t> eventClassValue =
      EventClass(event, answerCode, origin == Origin::Poll);
  if (!eventClassValue) return;
  const int32_t cls = *eventClassValue;

  TStructDeviceA* device = FindDevice(addr);
  TLoopA* entry = device ? FindLoop(*device, loop) : nullptr;
  if (entry) {
    const int32_t kind = entry->TypeEventShl;
    entry->LastValue = -1;
    // A frame of a kind determination must not start another one: with a
    // device that keeps its type to itself they would call each other
    // without end.
    const bool determined = ReadLoop(*device, *entry, origin == Origin::Poll, cls);
    // The kind the entry had before the event stands again, also over one
    // just determined, unless the worker has been switched off meanwhile.
    if (determined && !stopped_) entry->TypeEventShl = kind;
    return;
  }
  if (cls == ClassReadingByHost || cls == ClassReadingByDevice) return;
  TLoopA oneOff;
  oneOff.NumShl = loop;
  oneOff.Cmd = 0;
  oneOff.LastValue = -1;
  AdcExchange({addr, 6, 0, BusCommand::LoopAdc, loop, 0}, addr, oneOff, cls);
}

void SessionWorker::TakeAsyncList() {
  std::lock_guard lock(s_.AsyncLock);
  for (const AsyncCommand& record : s_.AsyncList) {
    if (record.Message.Msg != SessionMessage::Device) {
      auto* copy = new uint8_t[AsyncBlockBytes];
      std::memcpy(copy, record.Message.LParam, AsyncBlockBytes);
      privateList_.push_back(
          {record.PostHandle, {record.Message.Msg, record.Message.WParam, copy, 0}});
    } else if (record.Message.WParam >= AsyncRequest::RemoveDevice &&
               record.Message.WParam <= AsyncRequest::AddLoop) {
      CarryOutSubscriptionRequest(record);
    }
    ReleaseAsyncBlock(record.Message.LParam);
  }
  s_.AsyncList.clear();
}

void SessionWorker::CarryOutSubscriptionRequest(const AsyncCommand& record) {
  const auto* block = static_cast<const uint8_t*>(record.Message.LParam);
  switch (record.Message.WParam) {
    case AsyncRequest::RemoveDevice:
      RemoveDevice(block[0]);
      break;
    case AsyncRequest::RemoveLoop:
      RemoveLoop(block[0], block[1]);
      break;
    case AsyncRequest::RemoveAll:
      RemoveAll();
      break;
    case AsyncRequest::AddLoop: {
      int32_t total = 0;
      std::memcpy(&total, block, sizeof total);
      const size_t dataBytes = total > 6 ? static_cast<size_t>(total) - 6 : 0;
      AddLoop(block[4], block[5], block + 6, dataBytes);
      break;
    }
    default:
      break;
  }
}

void SessionWorker::QueueSubscriptionRequest(int32_t request, const Bytes& data) {
  // Hosts append from their own threads, so the worker's own requests take
  // the lock as well.
  std::lock_guard lock(s_.AsyncLock);
  s_.AsyncList.push_back(
      {0, {SessionMessage::Device, request, NewAsyncBlock(data, data.size()), 0}});
}

void SessionWorker::AsyncCommandStep() {
  TakeAsyncList();
  // Each record leaves the list once it is answered, so that a cycle ended
  // early (a stop, or an exception of the bus) leaves only unanswered ones.
  while (!privateList_.empty() && Running()) {
    AsyncCommand& record = privateList_.front();
    auto* block = static_cast<uint8_t*>(record.Message.LParam);
    const Bytes request(block + 1, block + 1 + block[0]);

    if (request.size() >= 6 && request[FrameOffset::Command] == BusCommand::LoopState) {
      TStructDeviceA* device = FindDevice(request[FrameOffset::Address]);
      const TLoopA* entry = device ? FindLoop(*device, request[FrameOffset::RequestData]) : nullptr;
      if (entry) DetermineKind(*device, *entry);
      if (!Running()) return;
    }
    s_.ShortRequest(request, 1);
    std::memset(block, 0, AsyncBlockBytes);
    block[0] = static_cast<uint8_t>(s_.Answer.size());
    std::copy(s_.Answer.begin(), s_.Answer.end(), block + 1);

    AsyncCommand answered = record;
    privateList_.erase(privateList_.begin());
    s_.HandOverToOwner(SessionMessage::AsyncAnswer, 0, &answered);
    ReleaseAsyncBlock(block);
  }
}

}  // namespace loopmon
