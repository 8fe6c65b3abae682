#include "transport/bus_state.h"

#include "platform/serial/port_names.h"

namespace loopmon {

BusState::BusState(Platform platformServices) : platform(std::move(platformServices)) {
  if (platform.makeSerialPort) Port = platform.makeSerialPort();
  KeyWord.fill(NoKey);
  if (platform.clock) {
    CounterFrequency = platform.clock->counterFrequency();
    StartCounter = platform.clock->counter();
  }
}

BusState::~BusState() = default;

std::string BusState::PortName() const {
  return PortPath.empty() ? comPortName(ComPort) : PortPath;
}

Bytes PrepareRequest(const BusState& bus, const Bytes& request) {
  return keyRequest(request, bus.KeyedMode, bus.KeyWord.data(), randomModifier);
}

}  // namespace loopmon
