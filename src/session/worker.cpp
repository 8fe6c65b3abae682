#include "session/worker.h"

#include <algorithm>

#include "platform/simulator/simulator_link.h"
#include "transport/answer_rule.h"

namespace loopmon {

namespace {

constexpr size_t PollListEntries = 2500;
constexpr int32_t DefaultPollDivisor = 15;
// Lost-test factors: misses per unit of weight / divisor (times DeviceTimeout
// on the bus), and the silence that must have passed, in days.
constexpr double BusMissFactor = 44.0;
constexpr double BusSilencePerTimeoutDays = 0.000013;
constexpr double SimulatorMissFactor = 132.0;
constexpr double SimulatorSilenceDays = 0.00006;
// Rest of a cycle that found no address to poll, so that an empty schedule
// does not keep a core busy; also after a cycle that a bus failure ended, and
// between attempts to reach the simulator.
constexpr uint32_t EmptyScheduleRestMs = 4;

bool isDeviceAddress(uint8_t addr) {
  return addr >= 1 && addr <= 127;
}

// Codes of a device that speaks the protocol: present, or present with an event.
bool isPresenceCode(uint8_t code) {
  return code == 2 || isEventCode(code);
}

// The requests whose answers say what they answer: an ADC or line device
// reading, a loop kind, the device type, a loop state. No presence answer
// passes for an answer to one of them.
bool SaysWhatItAnswers(const Bytes& request) {
  if (request.size() < 6) return false;
  switch (request[FrameOffset::Command]) {
    case BusCommand::LoopAdc:
    case BusCommand::LineDevice:
    case BusCommand::Identify:
    case BusCommand::LoopState:
      return true;
    default:
      return false;
  }
}

bool IsAnswerTo(const Bytes& request, const Bytes& answer) {
  if (!SaysWhatItAnswers(request) || !AnswerFitsRequest(request, answer)) return false;
  return request[FrameOffset::Command] != BusCommand::LoopState ||
         answer[FrameOffset::Code] == BusAnswer::LoopState;
}

}  // namespace

SessionWorker::SessionWorker(SessionCore& session) : s_(session) {}

SessionWorker::~SessionWorker() {
  for (AsyncCommand& record : privateList_) ReleaseAsyncBlock(record.Message.LParam);
  std::lock_guard lock(s_.AsyncLock);
  for (AsyncCommand& record : s_.AsyncList) ReleaseAsyncBlock(record.Message.LParam);
  s_.AsyncList.clear();
}

bool SessionWorker::Running() const {
  return !stopped_ && s_.Work();
}

bool SessionWorker::Deliver(int32_t code, void* lParam) {
  return s_.HandOverToOwner(SessionMessage::Device, code, lParam);
}

bool SessionWorker::Start() {
  lastAdcRequestMs_ = s_.platform.clock->tickCountMs();
  if (s_.Simulator.enabled) {
    try {
      CreateWorkerSimulator(s_);
    } catch (const SimulatorUnavailable&) {
      // Without its object the worker cannot poll. It stays switched on and
      // tries again after a rest, so it starts once the simulator is there.
      s_.platform.clock->sleepMs(EmptyScheduleRestMs);
      return false;
    }
  }
  started_ = true;
  return true;
}

void SessionWorker::Cycle() {
  stopped_ = false;
  try {
    if (!started_ && !Start()) return;
    Steps();
  } catch (...) {
    // A bus operation that raises (the simulator gone or hanging, the port
    // lost, a port whose settings cannot be kept) ends this cycle only; the
    // worker carries on with the next one after a rest, as it would after an
    // unanswered request. Nothing may end the host's worker thread.
    if (Running()) s_.platform.clock->sleepMs(EmptyScheduleRestMs);
  }
}

void SessionWorker::Steps() {
  bool adcDue = false;
  if (Running()) {
    const uint32_t period = s_.AdcPeriod;
    adcDue = period > 0 && s_.platform.clock->tickCountMs() - lastAdcRequestMs_ >= period;
  }
  if (Running()) DrainRing();
  bool polled = false;
  if (Running()) {
    uint8_t addr = 0;
    if (ChooseAddress(addr)) {
      polled = true;
      PollStep(addr);
    }
  }
  if (Running() && adcDue) AdcStep();
  if (Running()) AsyncCommandStep();
  s_.platform.clock->yield();
  if (!polled && Running()) s_.platform.clock->sleepMs(EmptyScheduleRestMs);
}

void SessionWorker::DrainRing() {
  while (Running()) {
    Bytes request;
    {
      std::lock_guard lock(s_.RingLock);
      if (s_.RingTail == s_.RingHead) return;
      ++s_.RingHead;
      request = s_.CommandRing[s_.RingHead];
    }
    s_.WorkerRequest(request, 1);
  }
}

bool SessionWorker::ChooseAddress(uint8_t& addr) {
  // The schedule may hold no address at all; the chooser would then search
  // forever, so that is found out first. Entries above 127 are no address.
  const int count = std::min<int>(s_.PollCount, PollListEntries);
  const int searched = std::max(count, 1);
  const auto first = s_.PollList.begin() + 1;
  if (std::none_of(first, first + searched, isDeviceAddress)) return false;
  do {
    ++s_.PollIndex;
    if (s_.PollIndex > count || s_.PollIndex < 1) s_.PollIndex = 1;
  } while (!isDeviceAddress(s_.PollList[s_.PollIndex]));
  addr = s_.PollList[s_.PollIndex];
  return true;
}

void SessionWorker::PollStep(uint8_t addr) {
  ++s_.CycleCount;
  const Bytes poll{addr, 6, 0, BusCommand::Presence, 0, 1};
  const Bytes prepared = PrepareRequest(s_, poll);
  bool answered = false;
  if (s_.Simulator.enabled) {
    SimTransactWorker(s_, prepared, 1);
    answered = !s_.Answer.empty();
  } else {
    // The engine takes an answer only from the address asked.
    answered = Transact(s_, prepared, 1) && s_.Answer.size() >= MinAnswerBytes;
  }
  // The answer owed to an earlier request of the device, come late, says
  // nothing of this poll: the device is neither false nor heard.
  if (answered && IsAnswerTo(unanswered_[addr], s_.Answer)) {
    unanswered_[addr].clear();
    answered = false;
  }
  if (answered) {
    PollAnswered(addr, s_.Answer);
  } else {
    PollUnanswered(addr);
  }
}

void SessionWorker::NoteExchange(const Bytes& request, const Bytes& answer) {
  Bytes& owed = unanswered_[request[FrameOffset::Address] & 0x7F];
  if (IsAnswerTo(request, answer)) {
    if (owed == request) owed.clear();
  } else if (SaysWhatItAnswers(request)) {
    owed = request;
  }
}

void SessionWorker::PollUnanswered(uint8_t addr) {
  ++s_.PollFailCount;
  if (s_.PrevPollFailed) ++s_.PollFailRunCount;
  s_.PrevPollFailed = true;
  ++s_.MissCount[addr];
  if (s_.PollDivisor == 0) s_.PollDivisor = DefaultPollDivisor;

  const double weight = s_.PollWeight[addr];
  const double silentDays = s_.platform.clock->nowDays() - s_.LastAnswerTime[addr];
  bool lost = false;
  if (s_.Simulator.enabled) {
    lost = s_.MissCount[addr] > weight * SimulatorMissFactor / s_.PollDivisor &&
           silentDays > SimulatorSilenceDays;
  } else {
    const double timeout = s_.Settings.DeviceTimeout;
    lost = s_.MissCount[addr] > weight * BusMissFactor / s_.PollDivisor * timeout &&
           silentDays > timeout * BusSilencePerTimeoutDays;
  }
  if (!lost || s_.LostSet.test(addr)) return;

  // Entered before the hand-over: a handler that switches the worker off
  // ends the cycle there, and the loss must still be reported only once.
  s_.LostSet.set(addr);
  uint8_t lostAddr = addr;
  Deliver(SessionMessage::LostDevice, &lostAddr);
  NotifySubscriptions(addr, -2);
}

void SessionWorker::PollAnswered(uint8_t addr, const Bytes& frame) {
  // The answer is the worker's own copy: a handler may make requests that
  // change the session's answer fields.
  const Bytes answer = frame;
  s_.MissCount[addr] = 0;
  s_.LastAnswerTime[addr] = s_.platform.clock->nowDays();

  // All changes of the shared per-address state come before the hand-overs,
  // after which the worker may no longer touch it.
  const bool wasLost = s_.LostSet.test(addr);
  s_.LostSet.reset(addr);
  // An answer too short to carry a code does not speak the protocol either.
  const bool hasCode = answer.size() > FrameOffset::Code;
  const uint8_t code = hasCode ? answer[FrameOffset::Code] : 0;
  const bool falseDevice = !hasCode || !isPresenceCode(code);
  if (falseDevice) {
    s_.KeyWord[addr] = 0;
    s_.LostSet.set(addr);
  }
  s_.PrevPollFailed = false;

  // What this answer told is delivered in full even when a handler switches
  // the worker off on the way: the device has had its event acknowledged and
  // will not report it again. Only the decoding, which reads loops, needs
  // the bus and is left out then.
  uint8_t handedAddr = addr;
  if (wasLost) Deliver(SessionMessage::NewDevice, &handedAddr);
  if (falseDevice) {
    Deliver(SessionMessage::FalseDevice, &handedAddr);
    NotifySubscriptions(addr, -3);
    return;
  }
  if (!isEventCode(code)) return;
  Bytes event = answer;
  Deliver(SessionMessage::NewEvent, &event);
  if (Running()) DecodeEvent(answer, Origin::Poll);
}

}  // namespace loopmon
