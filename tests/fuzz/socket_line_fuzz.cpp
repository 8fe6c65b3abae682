// Lines a client sends to the simulator server, in pieces as the socket hands
// them over: every call gets one answer line that is empty or a whole frame,
// and the input held stays bounded.

#include <algorithm>

#include "fuzz_check.h"
#include "platform/simulator/simulator_socket_posix.h"
#include "sim/device_model.h"
#include "sim/scenario.h"
#include "sim/socket_calls.h"

using namespace loopmon;
using fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const sim::Scenario demo = sim::demoScenario();
  if (size == 0) return 0;
  // The first byte sets the size of the pieces.
  const size_t piece = data[0] % 97 + 1;
  const std::string input = fuzz::textOf(data + 1, size - 1);

  sim::SimulatedBus bus(demo);
  sim::SocketCalls calls(bus, false);
  sim::CallStream stream;
  std::string output;
  for (size_t at = 0; at < input.size(); at += piece) {
    output += calls.receive(stream, std::string_view(input).substr(at, piece));
    require(stream.input.size() < MaxSimulatorLineBytes, "the input held stays bounded");
  }
  const size_t calls_made = std::count(input.begin(), input.end(), '\n');
  const size_t answers = std::count(output.begin(), output.end(), '\n');
  require(answers <= calls_made + input.size() / MaxSimulatorLineBytes + 1,
          "no more answers than calls");

  size_t start = 0;
  while (start < output.size()) {
    const size_t end = output.find('\n', start);
    require(end != std::string::npos, "answers are whole lines");
    const std::string line = output.substr(start, end - start);
    if (!line.empty()) {
      const auto frame = frameFromText(line);
      require(frame && simulatorAnswerLength(frame->data(), frame->size(), bus.crcTable()) ==
                           frame->size(),
              "an answer line is one whole frame");
    }
    start = end + 1;
  }
  return 0;
}
