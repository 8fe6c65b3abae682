// Loop ADC subscriptions: the set of watched loops, the step that reads one
// loop per period, the kind determination and the reporting rule.

#include <algorithm>

#include "session/worker.h"
#include "transport/answer_rule.h"

namespace loopmon {

namespace {

constexpr uint8_t NoLineKind = 255;
constexpr uint8_t LineKindUnreadable = 1;
constexpr int32_t TypeWithLineDevices = 9;
constexpr int32_t TypeWithLineKinds = 12;
constexpr int32_t UnknownType = -1;
// A reading that has not moved is reported again after this long ("0:20:00").
constexpr double RepeatReportDays = 20.0 / (24 * 60);

// The loop kind code of an answer to the loop-kind request, or 255.
uint8_t lineKind(const Bytes& request, const Bytes& answer) {
  if (AnswerFitsRequest(request, answer) && answer[AnswerField::LoopValue] >= 1 &&
      answer[AnswerField::LoopValue] <= 254)
    return answer[AnswerField::LoopValue];
  return NoLineKind;
}

}  // namespace

TStructDeviceA* SessionWorker::FindDevice(uint8_t addr) {
  for (TStructDeviceA& device : s_.DeviceSet.Devices) {
    if (device.Addr == addr) return &device;
  }
  return nullptr;
}

TLoopA* SessionWorker::FindLoop(TStructDeviceA& device, uint8_t loop) {
  for (TLoopA& entry : device.Loops) {
    if (entry.NumShl == loop) return &entry;
  }
  return nullptr;
}

void SessionWorker::AddLoop(uint8_t addr, uint8_t loop, const uint8_t* data, size_t size) {
  TStructDeviceA* device = FindDevice(addr);
  if (!device) device = &s_.DeviceSet.Devices.emplace_back();
  device->Addr = addr;
  device->TypeDevice = addr < 128 ? s_.GetDeviceType(addr) : UnknownType;
  TLoopA* entry = FindLoop(*device, loop);
  if (!entry) entry = &device->Loops.emplace_back();
  entry->NumShl = loop;
  entry->TypeEventShl = 0;
  entry->LastValue = -1;
  if (size > 0) {
    entry->lData = static_cast<int32_t>(size);
    entry->Data.assign(data, data + size);
  }
}

void SessionWorker::RemoveLoop(uint8_t addr, uint8_t loop) {
  TStructDeviceA* device = FindDevice(addr);
  if (!device) return;
  auto entry = std::find_if(device->Loops.begin(), device->Loops.end(),
                            [loop](const TLoopA& e) { return e.NumShl == loop; });
  if (entry == device->Loops.end()) return;
  s_.DeviceSet.Cursor = 0;
  device->Loops.erase(entry);
}

void SessionWorker::RemoveDevice(uint8_t addr) {
  TStructDeviceA* device = FindDevice(addr);
  if (!device) return;
  while (!device->Loops.empty()) RemoveLoop(addr, device->Loops.back().NumShl);
  s_.DeviceSet.Devices.erase(s_.DeviceSet.Devices.begin() + (device - s_.DeviceSet.Devices.data()));
}

void SessionWorker::RemoveAll() {
  while (!s_.DeviceSet.Devices.empty()) RemoveDevice(s_.DeviceSet.Devices.back().Addr);
}

void SessionWorker::AdvanceCursors() {
  TDeviceA& set = s_.DeviceSet;
  const int32_t devices = static_cast<int32_t>(set.Devices.size());
  if (set.Cursor >= devices || set.Cursor < 0) {
    set.Cursor = 0;
    set.Devices[0].LoopCursor = 0;
    return;
  }
  TStructDeviceA& device = set.Devices[set.Cursor];
  if (!device.Loops.empty() && device.LoopCursor < static_cast<int32_t>(device.Loops.size())) {
    ++device.LoopCursor;
    return;
  }
  ++set.Cursor;
  if (set.Cursor >= devices) set.Cursor = 0;
  set.Devices[set.Cursor].LoopCursor = 0;
}

void SessionWorker::AdcStep() {
  TDeviceA& set = s_.DeviceSet;
  if (set.Devices.empty()) return;
  // A removed device can leave the cursor past the end; the advance brings
  // it back to the first device.
  const int32_t c = set.Cursor;
  if (c < 0 || c >= static_cast<int32_t>(set.Devices.size())) {
    AdvanceCursors();
    return;
  }
  TStructDeviceA& device = set.Devices[c];
  const int32_t index = device.LoopCursor;
  if (index < 0 || index >= static_cast<int32_t>(device.Loops.size())) {
    AdvanceCursors();
    return;
  }
  AdvanceCursors();
  ReadLoop(device, device.Loops[index], true);
  lastAdcRequestMs_ = s_.platform.clock->tickCountMs();
}

bool SessionWorker::ReadLoop(TStructDeviceA& device, TLoopA& entry, bool mayDetermine,
                             std::optional<int32_t> eventClass) {
  if (s_.LostSet.test(device.Addr)) return false;
  const int32_t kind = eventClass.value_or(entry.TypeEventShl);
  const bool determine = mayDetermine && (kind == 0 || device.TypeDevice == UnknownType);
  if (determine) {
    if (DetermineKind(device, entry) == Kind::Unreadable) {
      QueueSubscriptionRequest(AsyncRequest::RemoveDevice, {device.Addr});
      return true;
    }
    if (!Running()) return true;
  }
  Bytes request;
  if (entry.Cmd == BusCommand::LoopAdc) {
    request = {device.Addr, 6, 0, BusCommand::LoopAdc, entry.NumShl, 0};
  } else if (entry.Cmd == BusCommand::LineDevice) {
    request = {device.Addr, 6, 0, BusCommand::LineDevice, entry.NumShl, LineQuery::Reading};
  } else {
    return determine;
  }
  AdcExchange(request, device.Addr, entry, determine ? entry.TypeEventShl : kind);
  return determine;
}

void SessionWorker::AdcExchange(const Bytes& request, uint8_t addr, TLoopA& entry,
                                int32_t typeEvent) {
  const bool answered = Transact(s_, PrepareRequest(s_, request), 1);
  const Bytes answer = s_.Answer;
  NoteExchange(request, answered ? answer : Bytes{});
  if (IsAdcRefusal(answer)) {
    QueueSubscriptionRequest(AsyncRequest::RemoveLoop, {addr, entry.NumShl});
    return;
  }
  if (!AnswerFitsRequest(request, answer)) return;

  const int32_t value = answer[AnswerField::LoopValue];
  const int32_t moved = entry.LastValue == -1 ? 2 : entry.LastValue - value;
  const double now = s_.platform.clock->nowDays();
  if (moved > 1 || moved < -1) {
    entry.LastValue = value;
  } else if (now - RepeatReportDays < entry.LastReport) {
    return;
  }
  entry.LastReport = now;
  TAdcReport report{
      answer,     entry.Cmd, entry.NumShl, typeEvent, entry.lData > 0 ? entry.Data.data() : nullptr,
      entry.lData};
  Deliver(SessionMessage::NewAdc, &report);
}

SessionWorker::Kind SessionWorker::DetermineKind(TStructDeviceA& device, const TLoopA& entry) {
  const uint8_t addr = device.Addr;
  const uint8_t loop = entry.NumShl;
  if (device.TypeDevice == UnknownType) {
    const Bytes identify{addr, 6, 0, BusCommand::Identify, 0, 0};
    const bool answered = s_.ShortRequest(identify, 1);
    NoteExchange(identify, answered ? s_.Answer : Bytes{});
    device.TypeDevice = answered && AnswerFitsRequest(identify, s_.Answer)
                            ? s_.Answer[AnswerField::DeviceType]
                            : UnknownType;
  }
  int32_t kind = 2;
  for (TLoopA& f : device.Loops) {
    if (f.NumShl != loop) continue;
    if (!Running()) break;
    uint8_t command = BusCommand::LoopAdc;
    if (device.TypeDevice == TypeWithLineDevices || device.TypeDevice == TypeWithLineKinds) {
      const Bytes kindRequest{addr, 6, 0, BusCommand::LineDevice, loop, LineQuery::Kind};
      NoteExchange(kindRequest, s_.ShortRequest(kindRequest, 1) ? s_.Answer : Bytes{});
      const uint8_t code = lineKind(kindRequest, s_.Answer);
      command = BusCommand::LineDevice;
      if (device.TypeDevice == TypeWithLineDevices) {
        if (code == LineKindUnreadable) return Kind::Unreadable;
        switch (code) {
          case 2:
          case 4:
          case 5:
          case 6:
          case 7:
          case 10:
          case 20:
            kind = 2;
            break;
          case 3:
            kind = 1;
            break;
          default:
            kind = 0;
            break;
        }
      } else {
        kind = code == 31 ? 1 : 0;
      }
    }
    f.TypeEventShl = kind;
    f.Cmd = command;
    f.LastValue = -1;

    TTypeReport typeReport{addr, f.NumShl, device.TypeDevice, kind};
    if (!Deliver(SessionMessage::NewTypeEventAdc, &typeReport)) break;
    const Bytes stateRequest{addr, 6, 0, BusCommand::LoopState, f.NumShl, 0};
    NoteExchange(stateRequest, s_.ShortRequest(stateRequest, 1) ? s_.Answer : Bytes{});
    Bytes state = s_.Answer;
    if (!Deliver(SessionMessage::NewEvent, &state)) break;
    DecodeEvent(state, Origin::Determination);
  }
  return Kind::Readable;
}

void SessionWorker::NotifySubscriptions(uint8_t addr, int32_t code) {
  TStructDeviceA* device = FindDevice(addr);
  if (!device) return;
  // Kinds and type are found afresh at the next read. They are forgotten
  // before the reports, after which the worker may have to leave DeviceSet
  // alone.
  for (TLoopA& entry : device->Loops) entry.TypeEventShl = 0;
  device->TypeDevice = UnknownType;
  // Every subscription hears of it, also when a handler switches the worker
  // off after the first report: the reports need no bus.
  for (const TLoopA& entry : device->Loops) {
    TAdcReport report{
        {},         entry.Cmd, entry.NumShl, code, entry.lData > 0 ? entry.Data.data() : nullptr,
        entry.lData};
    Deliver(SessionMessage::NewAdc, &report);
  }
}

}  // namespace loopmon
