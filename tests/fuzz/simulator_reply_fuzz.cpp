// A simulator server's reply as the client reads it, in pieces as the socket
// hands them over: the same reading wherever the pieces split, a whole reply
// is one line, anything after its newline breaks it, and what is held stays
// bounded; a whole reply's text goes on to the frame parser.

#include "fuzz_check.h"
#include "platform/simulator/simulator_socket_posix.h"
#include "transport/sim_exchange.h"

using namespace loopmon;
using fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = data[0] % 97 + 1;
  const std::string input = fuzz::textOf(data + 1, size - 1);

  SimulatorReply whole;
  whole.take(input);
  SimulatorReply split;
  for (size_t at = 0; at < input.size(); at += piece) {
    split.take(std::string_view(input).substr(at, piece));
    require(split.text().size() < MaxSimulatorLineBytes + 97, "what is held stays bounded");
  }
  require(split.state() == whole.state() &&
              (whole.state() != SimulatorReply::State::Whole || split.text() == whole.text()),
          "any split reads the same");

  const size_t newline = input.find('\n');
  const bool oneLine = newline != std::string::npos && newline + 1 == input.size() &&
                       newline < MaxSimulatorLineBytes;
  require((whole.state() == SimulatorReply::State::Whole) == oneLine,
          "whole exactly when the reply is one line");
  if (whole.state() == SimulatorReply::State::Whole) {
    require(whole.text() == input.substr(0, newline), "the text is the line without its newline");
    SimulatorBuffer buffer;
    if (ParseFrameText(whole.text(), buffer)) {
      require(buffer.count <= buffer.bytes.size(), "a parsed reply fits the buffer");
    }
  }
  return 0;
}
