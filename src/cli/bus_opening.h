#pragma once
// The port loopctl is given and the session opened on it, for every command
// that talks to the bus.

#include <memory>
#include <string>

#include "session/session.h"

namespace loopmon::cli {

class TraceOutput;

// A port as loopctl takes it: COM1..COM4 are the session's ComPort, as the
// windows set it; a higher COM number (up to 256) and a device path are opened
// by name beside it.
struct PortChoice {
  int comPort = 1;
  std::string path;
  std::string name;
};

// The text of --port as a port; UsageError for a text that names none,
// CliError for a device path that does not exist.
PortChoice parsePort(const std::string& text);

// A session on the chosen port, traced from its first exchange when asked;
// outside simulator mode the port must open (CliError naming the reason).
std::unique_ptr<TRSSession> openBus(const PortChoice& port, TraceOutput* trace,
                                    std::shared_ptr<OwnerDispatcher> owner = nullptr);

// A session on the chosen port for the watch, which opens the port itself
// and waits for one that cannot be opened yet.
std::unique_ptr<TRSSession> watchedBus(const PortChoice& port);

}  // namespace loopmon::cli
