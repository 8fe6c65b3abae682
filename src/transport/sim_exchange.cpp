#include "transport/sim_exchange.h"

#include <algorithm>

#include "transport/answer_rule.h"
#include "transport/attempt_trace.h"
#include "transport/bus_state.h"

namespace loopmon {

namespace {

// The simulator server expects its callers to keep these pauses between
// calls, as a bus would impose them.
constexpr uint32_t DirectCallPauseMs = 30;
constexpr uint32_t WorkerCallPauseMs = 20;
constexpr uint32_t AcknowledgePauseMs = 2;
constexpr uint32_t WorkerAnswerPauseMs = 1;
// The answer's byte 3 values after which the worker side pauses once more.
constexpr std::array<uint8_t, 4> WorkerPauseValues = {24, 28, 29, 34};

class DirectSideScope {
 public:
  explicit DirectSideScope(DirectSideGate& gate) : gate_(gate) { gate_.enter(); }
  ~DirectSideScope() { gate_.leave(); }
  DirectSideScope(const DirectSideScope&) = delete;
  DirectSideScope& operator=(const DirectSideScope&) = delete;

 private:
  DirectSideGate& gate_;
};

std::string callObject(SimulatorObject* object, const std::string& text) {
  return object ? object->call(text) : std::string();
}

// A platform without a simulator link (test fakes) has no objects to give:
// every exchange then fails as if no device answered.
std::unique_ptr<SimulatorObject> createObject(BusState& bus, SimulatorSide side) {
  if (!bus.platform.simulatorLink) return nullptr;
  return bus.platform.simulatorLink->create(side);
}

bool simExchange(BusState& bus, const Bytes& request, uint8_t mode, SimulatorSide side,
                 SimulatorObject* object) {
  Clock& clock = *bus.platform.clock;
  const FineTimerPeriod finePeriod(clock);
  // The worker side holds back before it touches anything, so a direct-side
  // exchange that runs meanwhile has the session's answer fields to itself.
  if (side == SimulatorSide::Worker) bus.Simulator.directSide.waitUntilClear();
  const bool answerAwaited = mode != 0;
  if (answerAwaited) bus.Answer.clear();
  bus.AnswerFrame.count = 0;
  AttemptTrace trace(bus, request, answerAwaited);
  if (request.size() < 5) return false;

  std::optional<uint8_t> key;
  const Bytes frame = buildFrame(request, bus.KeyWord.data(), bus.crcTable(), key);
  const std::string text = frameToText(frame);
  const TraceRoute route =
      side == SimulatorSide::Direct ? TraceRoute::Simulator : TraceRoute::SimulatorWorker;

  std::string reply;
  if (side == SimulatorSide::Direct) {
    clock.sleepMs(DirectCallPauseMs);
    if (object) trace.calling(frame, key, route);
    reply = callObject(object, text);
    trace.readEnded(nullptr);
  } else if (object) {
    trace.calling(frame, key, route);
    reply = object->call(text);
    trace.readEnded(nullptr);
    clock.sleepMs(WorkerCallPauseMs);
  }
  if (!answerAwaited) return true;

  SimulatorBuffer buffer;
  const bool parsed = ParseFrameText(reply, buffer);
  // A reply that repeats the request is an echo, not an answer.
  size_t m = parsed ? simulatorAnswerLength(buffer.bytes.data(), buffer.count, bus.crcTable()) : 0;
  if (m != 0 && repeatsRequest(frame, buffer.bytes.data(), m)) m = 0;
  const bool wellFormed = m != 0;
  // Another device's answer is owed to another request, not this one's.
  const bool accepted = wellFormed && FromAskedAddress(frame[FrameOffset::Address],
                                                       buffer.bytes[FrameOffset::Address]);
  if (object)
    trace.finishSimulator(buffer.bytes.data(), buffer.count, parsed, wellFormed, accepted);
  if (!accepted) return false;

  Bytes answer(buffer.bytes.begin(), buffer.bytes.begin() + static_cast<std::ptrdiff_t>(m));
  unscrambleAnswer(answer, key);
  std::copy(answer.begin(), answer.end(), bus.AnswerFrame.bytes.begin());
  bus.AnswerFrame.count = static_cast<uint8_t>(m);
  bus.Answer = answer;

  if (side == SimulatorSide::Worker && m > FrameOffset::AnswerData &&
      std::ranges::find(WorkerPauseValues, answer[FrameOffset::AnswerData]) !=
          WorkerPauseValues.end()) {
    clock.sleepMs(WorkerAnswerPauseMs);
  }
  if (m > FrameOffset::Code && isEventCode(answer[FrameOffset::Code])) {
    clock.sleepMs(AcknowledgePauseMs);
    Bytes acknowledgement = acknowledgementRequest(request[FrameOffset::Address]);
    AttemptTrace acknowledged(bus, acknowledgement, false);
    acknowledgement.push_back(FrameChecksum(acknowledgement, bus.crcTable()));
    if (object) acknowledged.calling(acknowledgement, std::nullopt, route);
    callObject(object, frameToText(acknowledgement));
  }
  return true;
}

}  // namespace

void DirectSideGate::enter() {
  std::lock_guard guard(lock_);
  ++running_;
}

void DirectSideGate::leave() {
  {
    std::lock_guard guard(lock_);
    --running_;
  }
  cleared_.notify_all();
}

void DirectSideGate::waitUntilClear() {
  std::unique_lock guard(lock_);
  cleared_.wait(guard, [this] { return running_ == 0; });
}

bool ParseFrameText(const std::string& text, SimulatorBuffer& buffer) {
  buffer.count = 0;
  if (text.empty()) {
    std::fill_n(buffer.bytes.begin(), 127, 0);
    return true;
  }
  const auto bytes = frameFromText(text);
  if (!bytes) return false;
  std::copy(bytes->begin(), bytes->end(), buffer.bytes.begin());
  buffer.count = bytes->size();
  return true;
}

bool SimTransactDirect(BusState& bus, const Bytes& request, uint8_t mode) {
  // The worker side holds back from the moment the object is asked for until
  // it is gone again.
  DirectSideScope scope(bus.Simulator.directSide);
  const auto object = createObject(bus, SimulatorSide::Direct);
  return simExchange(bus, request, mode, SimulatorSide::Direct, object.get());
}

bool SimTransactWorker(BusState& bus, const Bytes& request, uint8_t mode) {
  return simExchange(bus, request, mode, SimulatorSide::Worker, bus.Simulator.workerObject.get());
}

void CreateWorkerSimulator(BusState& bus) {
  bus.Simulator.workerObject = createObject(bus, SimulatorSide::Worker);
}

void DropWorkerSimulator(BusState& bus) {
  bus.Simulator.workerObject.reset();
}

}  // namespace loopmon
