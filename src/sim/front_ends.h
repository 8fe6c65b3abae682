#pragma once
// The two front ends of loopsim over one simulated bus.

#include <memory>
#include <string>

#include "sim/scenario.h"

namespace loopmon::sim {

class ReplayTable;

struct ServeOptions {
  Scenario scenario;
  bool trace = false;
  std::shared_ptr<const ReplayTable> replay;  // a recorded bus instead of the scenario's
};

struct LineOptions {
  Scenario scenario;
  bool trace = false;
  bool echo = false;
  std::string linkPath;  // a symlink to the device, made and removed by loopsim
  std::shared_ptr<const ReplayTable> replay;
};

// Both run until they are stopped (Ctrl-C, SIGTERM, or on Windows the
// console window closed) and return the exit status.
int serveSimulator(const ServeOptions& options);
int playLine(const LineOptions& options);

// Serves the bus and opens the desktop program beside loopsim on it; closing
// the program's window ends the demo.
int playDemo(const ServeOptions& options);

// POSIX: makes SIGINT and SIGTERM readable on the returned descriptor, so a
// poll loop can end cleanly. SIGPIPE is ignored.
int stopSignalDescriptor();

}  // namespace loopmon::sim
