#pragma once
// The line protocol of the simulator socket, apart from the socket: what one
// client sent goes in, the answer lines to send back come out.

#include <string>
#include <string_view>

#include "sim/device_model.h"

namespace loopmon::sim {

// What is left of one client's input between two receptions.
struct CallStream {
  std::string input;              // the start of a line not complete yet
  bool skippingLongLine = false;  // the rest of an over-long line is still to come
};

class SocketCalls {
 public:
  SocketCalls(BusResponder& bus, bool trace) : bus_(bus), trace_(trace) {}

  // Takes bytes received from a client and returns the answer lines for the
  // calls they complete, one line each. A line too long to be a call is
  // answered at once with an empty line (as when no device answers) and the
  // rest of it is skipped when it comes; the input held never reaches
  // MaxSimulatorLineBytes.
  std::string receive(CallStream& stream, std::string_view bytes);

  // The answer text to one call "METHOD REQUEST-TEXT"; "" for a malformed call
  // or when no device answers.
  std::string answer(const std::string& line);

 private:
  BusResponder& bus_;
  bool trace_;
};

}  // namespace loopmon::sim
