#include <algorithm>
#include <array>
#include <optional>

#include "platform/system/clock.h"
#include "transport/answer_rule.h"
#include "transport/attempt_trace.h"
#include "transport/bus_state.h"

namespace loopmon {

namespace {

constexpr uint8_t Padding = 0xFF;
// Beyond this the driver has had ample time for any answer of this bus.
constexpr uint32_t DriverWaitLimitMs = 350;
constexpr int DriverPollsShortClass = 2;
constexpr int DriverPollsLongClass = 150;
constexpr uint32_t LineClear = 0;

bool isShortClass(uint8_t command) {
  return command == 1 || command == 3;
}

// Counts of a counter at `frequency` per second in `micros` microseconds,
// exactly frequency * micros / 10^6 without overflowing for long tails.
int64_t countsIn(int64_t frequency, int64_t micros) {
  return frequency / 1'000'000 * micros + frequency % 1'000'000 * micros / 1'000'000;
}

// Received frame bytes; one more than the largest Length + 1 a device can
// announce, so that the second read never runs past the end.
using AnswerBytes = std::array<uint8_t, MaxFrameBytes + 1>;

class Exchange {
 public:
  Exchange(BusState& bus, const Bytes& request, uint8_t mode)
      : bus_(bus), request_(request), answerAwaited_(mode != 0), trace_(bus, request, mode != 0) {}

  bool run();

 private:
  SerialPort& port() { return *bus_.Port; }
  Clock& clock() { return *bus_.platform.clock; }
  void turnToSending();
  void sendOnSerial();
  bool readFromSent(int64_t sent);
  void sendThroughDriver();
  size_t receiveOnSerial();
  size_t receiveThroughDriver();
  bool wellFormed(size_t count) const;
  bool keepsLineAccount() const;
  void hearOutOwedAnswers();
  void noteTry(bool answered);
  void store(size_t count);
  void endSerialExchange();

  BusState& bus_;
  // A copy: the caller may hand in one of the answer fields this exchange empties.
  const Bytes request_;
  const bool answerAwaited_;
  Bytes frame_;
  std::optional<uint8_t> key_;
  uint8_t command_ = 0;
  // Counter reading the wait for the answer counts from, when not the read's start.
  std::optional<int64_t> readFrom_;
  std::optional<uint32_t> myTimeOut_;  // tick count when the driver send finished
  int driverTries_ = 0;
  AnswerBytes received_{};
  AttemptTrace trace_;
};

// DTR clear and RTS set put the converter's driver on the line.
void Exchange::turnToSending() {
  if (bus_.LineTurnsItself()) return;
  port().setDtr(false);
  port().setRts(true);
}

void Exchange::sendOnSerial() {
  const size_t n = request_.size();
  if (bus_.CounterFrequency != 0 && !bus_.Settings.USARTMode) {
    // Writes return once the bytes are queued, not sent: wait out their wire
    // time plus the tail, so that the line is turned round just after the last
    // stop bit and before a quick device starts to answer.
    const int64_t start = clock().counter();
    size_t written = port().write(frame_.data(), n);
    written += port().write(frame_.data() + n, 1);
    const int64_t micros = static_cast<int64_t>(written) * CharacterMicros + bus_.Settings.TailInUS;
    const int64_t sent = start + countsIn(bus_.CounterFrequency, micros);
    if (bus_.LineTurnsItself()) {
      // Nothing happens on the line at that moment, so it need not be hit to
      // the microsecond, and the spin, which a watch of many lines would pay on
      // every exchange, is spared.
      if (!readFromSent(sent)) sleepUntilAbout(clock(), sent);
    } else {
      waitForCounter(clock(), sent);
    }
  } else if (!bus_.LineTurnsItself()) {
    // Without a counter, two padding bytes stand in for the wait: the line
    // stays driven until the checksum has surely left. The writes of a
    // terminal return once the bytes are queued, not sent, so the turnaround
    // also waits for them to drain, as a synchronous comm write would.
    Bytes padded = frame_;
    padded.push_back(Padding);
    port().write(padded.data(), padded.size());
    port().write(&Padding, 1);
    port().drain();
  } else {
    port().write(frame_.data(), frame_.size());
  }
}

// The answer cannot begin before the request has left, so on a local line
// that turns itself round the read may start at once, its time-out lengthened
// by the wire time still to go: one wake-up an exchange fewer than a sleep
// and then a read, which many watched lines pay on every exchange. Not for a
// broadcast or a request without an answer, whose wire time must pass before
// the next exchange purges the port, nor for a remote line, which times its
// network from the read.
bool Exchange::readFromSent(int64_t sent) {
  if (!answerAwaited_ || frame_[FrameOffset::Address] == 0 || port().isRemote()) return false;
  const int64_t frequency = bus_.CounterFrequency;
  const int64_t counts = std::max<int64_t>(sent - clock().counter(), 0);
  const auto wireMs = static_cast<uint32_t>((counts * 1000 + frequency - 1) / frequency);
  CommTimeouts timeouts;
  port().getTimeouts(timeouts);
  const std::optional<CommTimeouts> lengthened = AnswerWaitLengthened(timeouts, wireMs);
  if (!lengthened) return false;
  port().setTimeouts(*lengthened);
  readFrom_ = sent;
  return true;
}

void Exchange::sendThroughDriver() {
  const uint32_t frameBytes = static_cast<uint32_t>(frame_.size());
  if (!answerAwaited_) {
    bus_.Driver->control(DriverCode::SendOnly, frame_.data(), frameBytes, nullptr, 0);
    return;
  }
  bus_.Driver->control(DriverCode::Prepare, nullptr, 0, nullptr, 0);
  bus_.Driver->control(DriverCode::SendReceive, frame_.data(), frameBytes, nullptr, 0);
  myTimeOut_ = clock().tickCountMs();
  // The frame's own wire time and a little more before the first poll.
  clock().sleepMs(static_cast<uint32_t>(request_.size()) + 7);
  driverTries_ = isShortClass(command_) ? DriverPollsShortClass : DriverPollsLongClass;
}

size_t Exchange::receiveOnSerial() {
  if (port().takeLineErrors() != LineClear) {
    // The port is reopened to clear the fault; the read then runs with the
    // time-outs and line states that opening leaves.
    const bool reopened = OpenPort(bus_);
    ++bus_.LineErrorCount;
    if (!reopened) {
      // Gone, not just disturbed: the caller is told once, and the next
      // exchange tries to open the port again.
      bus_.PortLost = true;
      return 0;
    }
  }
  trace_.readStarts();
  const int64_t waitStart = readFrom_.value_or(clock().counter());
  size_t count = port().read(received_.data(), MinAnswerBytes);
  trace_.readEnded(&port());
  const uint8_t length = received_[FrameOffset::Length];
  if (count == MinAnswerBytes && length > MinAnswerBytes - 1) {
    trace_.readStarts();
    count += port().read(received_.data() + MinAnswerBytes, size_t{length} + 1 - MinAnswerBytes);
    trace_.readEnded(&port());
  }
  if (bus_.CounterFrequency > 0)
    bus_.LastHeard.readMicros = (clock().counter() - waitStart) * 1'000'000 / bus_.CounterFrequency;
  return count;
}

size_t Exchange::receiveThroughDriver() {
  if (!myTimeOut_) throw TransportAssertion("RSSESSION. Не инициализирована MyTimeOut");
  BusDriver& driver = *bus_.Driver;
  size_t count = 0;
  bool complete = false;
  do {
    --driverTries_;
    count =
        std::min<uint32_t>(driver.control(DriverCode::Fetch, nullptr, 0, received_.data(), 2), 2);
    if (count == 2) {
      // The driver has the Address and Length; give the rest of the frame the
      // time it needs (about a millisecond a byte) before fetching it whole.
      const uint32_t length = received_[FrameOffset::Length];
      clock().sleepMs(length);
      const uint32_t wanted = length + 1;
      count =
          std::min(driver.control(DriverCode::Fetch, nullptr, 0, received_.data(), wanted), wanted);
      complete = count == wanted;
    } else {
      clock().sleepMs(2);
    }
  } while (driverTries_ > 0 && !complete &&
           clock().tickCountMs() - *myTimeOut_ <= DriverWaitLimitMs);
  driver.control(DriverCode::EndReceive, nullptr, 0, nullptr, 0);
  return count;
}

// An echo of the request passes the checks of an answer; a device never
// sends the request's bytes back.
bool Exchange::wellFormed(size_t count) const {
  return lineAnswerAccepted(received_.data(), count, bus_.crcTable()) &&
         !repeatsRequest(frame_, received_.data(), count);
}

// A remote line keeps the account itself, frame by frame; the driver and an
// exchange without an answer owe nothing here.
bool Exchange::keepsLineAccount() const {
  return answerAwaited_ && !bus_.HasDriver() && !bus_.Port->isRemote() &&
         frame_[FrameOffset::Address] != 0;
}

// A device answers its requests in turn: answers still owed to the tries of
// an earlier request that the device did answer would pass for this one's.
// They are read and dropped first, each read waiting as long as this
// request's; the first silence ends the wait, as nothing then is on its way.
// A request none of whose tries had an answer is one the device does not
// answer: a local line holds no answer back for longer than all its tries.
void Exchange::hearOutOwedAnswers() {
  BusState::OwedTries& tries = bus_.LineOwed[frame_[FrameOffset::Address] & 0x7F];
  if (tries.owed == 0 || !tries.answered || tries.request == frame_) return;
  if (!bus_.LineTurnsItself()) {
    port().setDtr(true);
    port().setRts(false);
  }
  const uint8_t device = frame_[FrameOffset::Address] & 0x7F;
  while (tries.owed > 0) {
    size_t count = port().read(received_.data(), MinAnswerBytes);
    if (count == 0) break;
    const uint8_t length = received_[FrameOffset::Length];
    if (count == MinAnswerBytes && length > MinAnswerBytes - 1)
      port().read(received_.data() + MinAnswerBytes, size_t{length} + 1 - MinAnswerBytes);
    if (FromAskedAddress(device, received_[FrameOffset::Address])) --tries.owed;
  }
  tries.owed = 0;
  turnToSending();
}

// A try that gave up owes its answer; one that had an answer may have had an
// earlier try's, so what is owed stays as it was.
void Exchange::noteTry(bool answered) {
  BusState::OwedTries& tries = bus_.LineOwed[frame_[FrameOffset::Address] & 0x7F];
  if (tries.request != frame_) tries = {frame_, 0, false};
  if (answered) {
    tries.answered = true;
  } else {
    ++tries.owed;
  }
}

void Exchange::store(size_t count) {
  Bytes answer(received_.begin(), received_.begin() + static_cast<std::ptrdiff_t>(count));
  unscrambleAnswer(answer, key_);
  std::copy(answer.begin(), answer.end(), bus_.AnswerFrame.bytes.begin());
  bus_.Answer.insert(bus_.Answer.end(), answer.begin(), answer.end());
  bus_.AnswerFrame.count = static_cast<uint8_t>(count);
}

void Exchange::endSerialExchange() {
  turnToSending();
  // Some converters need a moment on the driven line before the next frame.
  if (bus_.Settings.StartTimeout > 0) clock().sleepMs(bus_.Settings.StartTimeout);
}

bool Exchange::run() {
  if (answerAwaited_) {
    bus_.Answer.clear();
    bus_.LastHeard = {};
  }
  bus_.AnswerFrame.count = 0;
  if (!bus_.PortOpen() && !bus_.DriverReady && !OpenPort(bus_)) return false;

  const size_t n = request_.size();
  if (n < 5) return false;
  command_ = request_[FrameOffset::Command];
  frame_ = buildFrame(request_, bus_.KeyWord.data(), bus_.crcTable(), key_);
  if (frame_.empty()) return false;

  if (!bus_.HasDriver()) {
    SetReadTimeouts(bus_, isShortClass(command_));
    if (keepsLineAccount()) hearOutOwedAnswers();
    turnToSending();
    port().purge(PurgeAction::TxClear);
    port().purge(PurgeAction::TxAbort);
    port().purge(PurgeAction::RxClear);
    port().purge(PurgeAction::RxAbort);
    // No answer is read after a broadcast.
    port().requestGoesOut(frame_.data(), frame_.size(),
                          answerAwaited_ && frame_[FrameOffset::Address] != 0);
    trace_.sending(bus_, frame_, key_);
    sendOnSerial();
    if (frame_[FrameOffset::Address] == 0) {
      // Address 0 reaches every device and none answers.
      bus_.Answer.assign(MinAnswerBytes, 0);
      return true;
    }
    if (!bus_.LineTurnsItself()) {
      // Whatever came in while sending is the line's echo or noise.
      port().purge(PurgeAction::RxClear);
      port().purge(PurgeAction::RxAbort);
      port().setDtr(true);
      port().setRts(false);
    }
  } else {
    trace_.sending(bus_, frame_, key_);
    sendThroughDriver();
  }

  bool accepted = true;
  if (answerAwaited_) {
    const size_t count = bus_.HasDriver() ? receiveThroughDriver() : receiveOnSerial();
    const bool formed = wellFormed(count);
    // Another device's answer is owed to another request, not this one's.
    accepted =
        formed && FromAskedAddress(frame_[FrameOffset::Address], received_[FrameOffset::Address]);
    trace_.finishLine(received_.data(), count, formed, accepted);
    bus_.LastHeard.bytes = count;
    bus_.LastHeard.address = count > 0 ? received_[FrameOffset::Address] & 0x7F : 0;
    bus_.LastHeard.wellFormed = formed;
    // Bytes from the device asked, even damaged ones, were its answer.
    if (keepsLineAccount())
      noteTry(count > 0 &&
              FromAskedAddress(frame_[FrameOffset::Address], received_[FrameOffset::Address]));
    if (accepted) store(count);
  }
  if (!bus_.HasDriver()) endSerialExchange();

  if (answerAwaited_ && accepted && isEventCode(bus_.AnswerFrame.bytes[FrameOffset::Code])) {
    // The acknowledgement is an exchange of its own, which empties the count
    // but leaves the event's bytes in place.
    const uint8_t count = bus_.AnswerFrame.count;
    Transact(bus_, acknowledgementRequest(request_[FrameOffset::Address]), 0);
    bus_.AnswerFrame.count = count;
  }
  return answerAwaited_ ? accepted : true;
}

}  // namespace

bool Transact(BusState& bus, const Bytes& request, uint8_t mode) {
  // Simulator mode always awaits an answer, whatever the caller asked.
  if (bus.Simulator.enabled) return SimTransactDirect(bus, request, 1);
  const FineTimerPeriod finePeriod(*bus.platform.clock);
  const bool done = Exchange(bus, request, mode).run();
  NoteDroppedLine(bus);
  return done;
}

}  // namespace loopmon
