#pragma once
// The simulated bus: every device of a scenario, answering request frames the
// way the devices in the field do. Both front ends of loopsim (the simulator
// server and the pseudo-terminal line) share it; it knows nothing of either.

#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <vector>

#include "sim/bus_responder.h"
#include "sim/scenario.h"
#include "transport/frame.h"

namespace loopmon::sim {

enum class LoopCondition { Normal, Alarm, Open, Short };

// One loop (or, on a type-9 device, one line device): its reading wanders
// around a resting value and now and then steps into alarm, open or short.
class SimulatedLoop {
 public:
  SimulatedLoop(const LoopSpec& spec, uint8_t restingAdc, uint8_t alarmAdc);

  uint8_t adc() const { return adc_; }
  LoopCondition condition() const { return condition_; }
  uint8_t stateCode() const;
  bool scripted() const { return !spec_.script.empty(); }
  // One step of the walk; true when the state code changed.
  bool step(std::mt19937_64& random);

 private:
  LoopSpec spec_;
  uint8_t restingAdc_;
  uint8_t alarmAdc_;
  uint8_t adc_;
  LoopCondition condition_ = LoopCondition::Normal;
  size_t scriptNext_ = 0;
};

class SimulatedDevice {
 public:
  SimulatedDevice(const DeviceSpec& spec, uint64_t seed, bool drift);

  const DeviceSpec& spec() const { return spec_; }
  const std::vector<EventAnswer>& pendingEvents() const { return events_; }

  // Decides whether this request is heard at all (silence, drops, ignored commands).
  bool hears(uint8_t command);
  // The answer's code and two data bytes, or nothing for a request that gets none.
  std::optional<EventAnswer> answer(uint8_t command, uint8_t data1, uint8_t data2);
  // How the next answer goes astray, from the scenario's "answers".
  AnswerFault nextFault();

 private:
  SimulatedLoop* loop(int number);
  uint8_t readLoop(int number, uint8_t& state);
  EventAnswer lineDevice(int number, uint8_t query);
  void queueEvent(const EventAnswer& event);

  DeviceSpec spec_;
  bool drift_;
  std::mt19937_64 random_;
  int unheard_ = 0;  // of the first requests not heard
  std::map<int, SimulatedLoop> loops_;
  std::vector<EventAnswer> events_;
  size_t faultNext_ = 0;
  // Presence requests heard, and the requests still not heard while away.
  int presences_ = 0;
  int awayLeft_ = 0;
};

class SimulatedBus : public BusResponder {
 public:
  explicit SimulatedBus(const Scenario& scenario);

  CrcTable crcTable() const override { return crcTable_; }
  // A request frame as it came off the line, checksum included. Returns the
  // answer frame with its checksum (or what a fault made of it), or nothing
  // when no device answers.
  std::optional<Bytes> respond(const Bytes& frame) override;
  // When, after the request's end, the line delivers the last answer: the
  // device's latency, or its late-us for a late one.
  uint32_t replyDelayMicros() const override { return replyDelayMicros_; }
  // The device at an address, or null.
  SimulatedDevice* device(uint8_t address);

 private:
  CrcTable crcTable_;
  std::map<uint8_t, SimulatedDevice> devices_;
  uint32_t replyDelayMicros_ = 0;
};

// The reading at which a loop rests, and the one it shows in alarm, for a
// plain loop (kind 0) or a line device of the given kind.
uint8_t restingAdc(int lineKind, int loopNumber);
uint8_t alarmAdc(int lineKind, int loopNumber);

}  // namespace loopmon::sim
