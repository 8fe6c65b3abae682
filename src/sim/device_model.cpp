#include "sim/device_model.h"

#include <algorithm>
#include <cstdlib>

namespace loopmon::sim {

namespace {

// Chances per step of the walk: a loop in order seldom leaves that state, a
// disturbed one soon comes back, so a periodic reading shows both.
constexpr double AlarmChance = 0.015;
constexpr double OpenChance = 0.005;
constexpr double ShortChance = 0.005;
constexpr double RecoverChance = 0.3;
constexpr int RestingSpread = 3;
constexpr int DisturbedSpread = 2;
// A device keeps at most this many unacknowledged events.
constexpr size_t MaxPendingEvents = 16;

uint8_t clampAdc(int value, int low, int high) {
  return static_cast<uint8_t>(std::clamp(value, std::max(low, 1), std::min(high, 254)));
}

LoopCondition conditionOf(uint8_t adc, uint8_t resting) {
  if (adc == 0) return LoopCondition::Open;
  if (adc == 255) return LoopCondition::Short;
  return std::abs(adc - resting) <= 20 ? LoopCondition::Normal : LoopCondition::Alarm;
}

}  // namespace

uint8_t restingAdc(int lineKind, int loopNumber) {
  switch (lineKind) {
    case 0:
      return static_cast<uint8_t>(92 + (loopNumber * 7) % 17);
    case 2:
      return 9;
    case 4:
      return 137;
    case 5:
      return 141;
    case 6:
      return 8;
    default:
      return 100;
  }
}

uint8_t alarmAdc(int lineKind, int loopNumber) {
  switch (lineKind) {
    case 0:
      return static_cast<uint8_t>(45 + loopNumber % 5);
    case 2:
      return 30;
    case 4:
      return 100;
    case 5:
      return 163;
    case 6:
      return 20;
    default:
      return 45;
  }
}

SimulatedLoop::SimulatedLoop(const LoopSpec& spec, uint8_t restingAdc, uint8_t alarmAdc)
    : spec_(spec),
      restingAdc_(restingAdc),
      alarmAdc_(alarmAdc),
      adc_(spec.pinnedAdc.value_or(restingAdc)),
      condition_(conditionOf(adc_, restingAdc)) {}

uint8_t SimulatedLoop::stateCode() const {
  if (spec_.pinnedState) return *spec_.pinnedState;
  if (spec_.restState == LoopState::Disabled) return LoopState::Disabled;
  switch (condition_) {
    case LoopCondition::Normal:
      return spec_.restState;
    case LoopCondition::Alarm:
      return spec_.restState == LoopState::Armed ? LoopState::Alarm : spec_.restState;
    case LoopCondition::Open:
    case LoopCondition::Short:
      break;
  }
  return LoopState::Attention;
}

bool SimulatedLoop::step(std::mt19937_64& random) {
  const uint8_t before = stateCode();
  if (scripted()) {
    adc_ = spec_.script[scriptNext_];
    scriptNext_ = (scriptNext_ + 1) % spec_.script.size();
    condition_ = conditionOf(adc_, restingAdc_);
    return stateCode() != before;
  }
  if (spec_.pinnedAdc) return false;
  const double chance = std::uniform_real_distribution<double>(0.0, 1.0)(random);
  auto jitter = [&](int spread) {
    return std::uniform_int_distribution<int>(-spread, spread)(random);
  };
  if (condition_ == LoopCondition::Normal) {
    if (chance < AlarmChance) {
      condition_ = LoopCondition::Alarm;
      adc_ = alarmAdc_;
    } else if (chance < AlarmChance + OpenChance) {
      condition_ = LoopCondition::Open;
      adc_ = 0;
    } else if (chance < AlarmChance + OpenChance + ShortChance) {
      condition_ = LoopCondition::Short;
      adc_ = 255;
    } else {
      adc_ = clampAdc(adc_ + jitter(2), restingAdc_ - RestingSpread, restingAdc_ + RestingSpread);
    }
  } else if (chance < RecoverChance) {
    condition_ = LoopCondition::Normal;
    adc_ = restingAdc_;
  } else if (condition_ == LoopCondition::Alarm) {
    adc_ = clampAdc(alarmAdc_ + jitter(DisturbedSpread), alarmAdc_ - DisturbedSpread,
                    alarmAdc_ + DisturbedSpread);
  }
  return stateCode() != before;
}

SimulatedDevice::SimulatedDevice(const DeviceSpec& spec, uint64_t seed, bool drift)
    : spec_(spec), drift_(drift), events_(spec.events) {
  // Each device draws from its own sequence, so traffic to one device never
  // changes what another one does.
  std::seed_seq sequence{static_cast<uint32_t>(seed), static_cast<uint32_t>(seed >> 32),
                         static_cast<uint32_t>(spec.address)};
  random_.seed(sequence);
  for (int number = 1; number <= spec_.loopCount; ++number) {
    LoopSpec loopSpec;
    if (auto found = spec_.loops.find(number); found != spec_.loops.end()) loopSpec = found->second;
    int kind = 0;
    if (spec_.type == 9) {
      const auto line = spec_.lineDevices.find(number);
      if (line != spec_.lineDevices.end() && line->second.answerClass == 1) {
        kind = line->second.value;
      } else if (!loopSpec.pinnedAdc) {
        loopSpec.pinnedAdc = 0;  // nothing connected there
      }
    }
    loops_.emplace(number,
                   SimulatedLoop(loopSpec, restingAdc(kind, number), alarmAdc(kind, number)));
  }
}

bool SimulatedDevice::hears(uint8_t command) {
  if (awayLeft_ > 0) {
    --awayLeft_;
    return false;
  }
  if (command == BusCommand::Presence && spec_.awayFor > 0 && ++presences_ == spec_.awayAt) {
    awayLeft_ = spec_.awayFor - 1;
    return false;
  }
  if (spec_.silent || spec_.ignoredCommands.contains(command)) return false;
  if (unheard_ < spec_.deafFirst) {
    ++unheard_;
    return false;
  }
  if (spec_.dropPercent == 0) return true;
  return std::uniform_int_distribution<int>(0, 99)(random_) >= spec_.dropPercent;
}

SimulatedLoop* SimulatedDevice::loop(int number) {
  auto found = loops_.find(number);
  return found == loops_.end() ? nullptr : &found->second;
}

void SimulatedDevice::queueEvent(const EventAnswer& event) {
  if (events_.size() < MaxPendingEvents) events_.push_back(event);
}

uint8_t SimulatedDevice::readLoop(int number, uint8_t& state) {
  SimulatedLoop& l = *loop(number);
  if ((drift_ || l.scripted()) && l.step(random_) && spec_.loopEvents) {
    queueEvent({4, l.stateCode(), static_cast<uint8_t>(number)});
  }
  state = l.stateCode();
  return l.adc();
}

EventAnswer SimulatedDevice::lineDevice(int number, uint8_t query) {
  const auto configured = spec_.lineDevices.find(number);
  const LineDeviceSpec line =
      configured == spec_.lineDevices.end() ? LineDeviceSpec{0, 1} : configured->second;
  if (query == LineQuery::Kind) return {BusAnswer::LineDevice, line.answerClass, line.value};
  if (query != LineQuery::Reading) return {BusAnswer::LineDevice, 0, 2};
  if (line.answerClass == 0) return {BusAnswer::LineDevice, 0, line.value};
  // A kind-1 line device reports its firmware, not a reading.
  if (line.value == 1) return {BusAnswer::LineDevice, 0, 2};
  uint8_t state = 0;
  return {BusAnswer::LineDevice, LineQuery::Reading, readLoop(number, state)};
}

std::optional<EventAnswer> SimulatedDevice::answer(uint8_t command, uint8_t data1, uint8_t data2) {
  const EventAnswer refused{BusAnswer::Refused, command, 0};
  if (spec_.falseCode) return EventAnswer{*spec_.falseCode, 0, 0};
  switch (command) {
    case BusCommand::Presence: {
      // Polls keep the loops moving even when nobody reads them, so a host
      // that only polls still sees events come and go.
      if (drift_ && !loops_.empty()) {
        const auto number =
            static_cast<int>(std::uniform_int_distribution<size_t>(1, loops_.size())(random_));
        // A scripted loop moves only when it is read, so its reader sees the
        // whole script in order.
        uint8_t state = 0;
        if (const auto* picked = loop(number); picked && !picked->scripted())
          readLoop(number, state);
      }
      if (!events_.empty()) return events_.front();
      return EventAnswer{BusAnswer::Present, 0, 0};
    }
    case BusCommand::Acknowledge:
      if (data1 == 0 && data2 == 1 && !events_.empty()) events_.erase(events_.begin());
      return std::nullopt;
    case BusCommand::Identify:
      if (spec_.refusesIdentify) return refused;
      return EventAnswer{BusAnswer::Identity, spec_.type, spec_.version};
    case BusCommand::LoopState:
    case BusCommand::LoopAdc: {
      if (!loop(data1)) return refused;
      uint8_t state = 0;
      const uint8_t adc = readLoop(data1, state);
      if (command == BusCommand::LoopState) return EventAnswer{BusAnswer::LoopState, data1, state};
      return EventAnswer{BusAnswer::LoopAdc, data1, adc};
    }
    case BusCommand::LineDevice:
      if (spec_.type != 9 || !loop(data1)) return refused;
      return lineDevice(data1, data2);
    default:
      return refused;
  }
}

AnswerFault SimulatedDevice::nextFault() {
  if (spec_.answerFaults.empty()) return AnswerFault::None;
  const AnswerFault fault = spec_.answerFaults[faultNext_];
  faultNext_ = (faultNext_ + 1) % spec_.answerFaults.size();
  return fault;
}

SimulatedBus::SimulatedBus(const Scenario& scenario) : crcTable_(scenario.crcTable) {
  for (const auto& spec : scenario.devices) {
    devices_.emplace(spec.address, SimulatedDevice(spec, scenario.seed, scenario.drift));
  }
}

SimulatedDevice* SimulatedBus::device(uint8_t address) {
  auto found = devices_.find(address);
  return found == devices_.end() ? nullptr : &found->second;
}

std::optional<Bytes> SimulatedBus::respond(const Bytes& frame) {
  // Devices drop whatever they cannot take for one of their own frames.
  if (frame.size() < 6 || frame[FrameOffset::Length] + 1u != frame.size()) return std::nullopt;
  if (FrameChecksum(frame.data(), frame.size() - 1, crcTable_) != frame.back()) return std::nullopt;
  const uint8_t wireAddress = frame[FrameOffset::Address];
  SimulatedDevice* target = device(wireAddress & 0x7F);
  if (!target) return std::nullopt;

  uint8_t key = 0;
  if (wireAddress & 0x80) {
    if (!target->spec().key) return std::nullopt;
    key = *target->spec().key ^ frame[FrameOffset::Modifier];
  }
  const uint8_t command = frame[FrameOffset::Command] ^ key;
  const uint8_t data1 = frame[FrameOffset::RequestData] ^ key;
  const uint8_t data2 = frame.size() > 6 ? frame[FrameOffset::RequestData + 1] ^ key : 0;
  if (!target->hears(command)) return std::nullopt;
  const auto reply = target->answer(command, data1, data2);
  if (!reply) return std::nullopt;

  // A keyed request gets a keyed answer: same address byte, code and data
  // scrambled with the request's key, checksum over the bytes as sent.
  Bytes answer{wireAddress, 5, static_cast<uint8_t>(reply->code ^ key),
               static_cast<uint8_t>(reply->data1 ^ key), static_cast<uint8_t>(reply->data2 ^ key)};
  replyDelayMicros_ = target->spec().latencyMicros.value_or(0);
  switch (target->nextFault()) {
    case AnswerFault::None:
      break;
    case AnswerFault::Lost:
      return std::nullopt;
    case AnswerFault::Late:
      replyDelayMicros_ = target->spec().lateMicros;
      break;
    case AnswerFault::Checksum:
      answer.push_back(FrameChecksum(answer, crcTable_) ^ 0x5A);
      return answer;
    case AnswerFault::Length:
      --answer[FrameOffset::Length];
      break;
    case AnswerFault::Short:
      answer.resize(3);
      return answer;
    case AnswerFault::Address:
      answer[FrameOffset::Address] =
          static_cast<uint8_t>((wireAddress & 0x80) | (wireAddress % 127 + 1));
      break;
    case AnswerFault::Echo:
      return frame;
    case AnswerFault::Code:
      // A loop state answer where an ADC reading or an identity was asked,
      // an ADC answer otherwise: each the answer of some other request.
      answer[FrameOffset::Code] =
          static_cast<uint8_t>((command == BusCommand::LoopAdc || command == BusCommand::Identify ||
                                        command == BusCommand::LineDevice
                                    ? BusAnswer::LoopState
                                    : BusAnswer::LoopAdc) ^
                               key);
      break;
  }
  answer.push_back(FrameChecksum(answer, crcTable_));
  return answer;
}

}  // namespace loopmon::sim
