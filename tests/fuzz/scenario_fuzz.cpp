// Scenario INI texts: either a clear error or a bus whose devices answer every
// request of the system with a frame the line's checks accept, unless their
// answers are meant to go astray.

#include "fuzz_check.h"
#include "sim/device_model.h"
#include "sim/scenario.h"

using namespace loopmon;
using fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sim::Scenario scenario;
  try {
    scenario = sim::parseScenario(fuzz::textOf(data, size));
  } catch (const sim::ScenarioError&) {
    return 0;
  }
  sim::SimulatedBus bus(scenario);
  const uint8_t commands[][3] = {
      {BusCommand::Presence, 0, 0},    {BusCommand::Identify, 0, 0},
      {BusCommand::LoopAdc, 1, 0},     {BusCommand::LoopState, 2, 0},
      {BusCommand::LineDevice, 1, 1},  {BusCommand::LineDevice, 3, 4},
      {BusCommand::Acknowledge, 0, 1}, {0x40, 0, 0},
  };
  for (const sim::DeviceSpec& device : scenario.devices) {
    for (const auto& c : commands) {
      Bytes request{device.address, 6, 0, c[0], c[1], c[2]};
      request.push_back(FrameChecksum(request, bus.crcTable()));
      const auto answer = bus.respond(request);
      if (answer && device.answerFaults.empty()) {
        require(lineAnswerAccepted(answer->data(), answer->size(), bus.crcTable()),
                "a simulated device answers with a frame the line accepts");
      }
    }
  }
  return 0;
}
