#include "sim/socket_calls.h"

#include "platform/simulator/simulator_link.h"
#include "platform/simulator/simulator_socket_posix.h"
#include "sim/trace.h"

namespace loopmon::sim {
namespace {

bool knownMethod(const std::string& name) {
  return name == simulatorMethodName(SimulatorSide::Direct) ||
         name == simulatorMethodName(SimulatorSide::Worker);
}

}  // namespace

std::string SocketCalls::receive(CallStream& stream, std::string_view bytes) {
  std::string output;
  stream.input.append(bytes);
  size_t end;
  while ((end = stream.input.find('\n')) != std::string::npos) {
    const std::string line = stream.input.substr(0, end);
    stream.input.erase(0, end + 1);
    if (stream.skippingLongLine) {
      stream.skippingLongLine = false;
      continue;
    }
    output += answer(line) + '\n';
  }
  if (stream.input.size() >= MaxSimulatorLineBytes) {
    // Too long to be a frame: answered as nobody answers, and the rest of
    // the line is skipped when it comes.
    if (!stream.skippingLongLine) {
      if (trace_) traceLine("over-long line dropped");
      output += '\n';
      stream.skippingLongLine = true;
    }
    stream.input.clear();
  }
  return output;
}

std::string SocketCalls::answer(const std::string& line) {
  const auto space = line.find(' ');
  const std::string method = line.substr(0, space);
  const std::string text = space == std::string::npos ? std::string() : line.substr(space + 1);
  const auto request = frameFromText(text);
  if (!knownMethod(method) || !request) {
    if (trace_) traceLine("malformed call: " + line.substr(0, 80));
    return {};
  }
  if (trace_)
    traceLine(method + " -> " + describeFrame(*request, FrameRole::Request, bus_.crcTable()));
  const auto reply = bus_.respond(*request);
  if (trace_) {
    traceLine(method + " <- " +
              (reply ? describeFrame(*reply, FrameRole::Answer, bus_.crcTable()) : "(no answer)"));
  }
  return reply ? frameToText(*reply) : std::string();
}

}  // namespace loopmon::sim
