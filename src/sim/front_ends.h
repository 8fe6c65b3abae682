#pragma once
// The two front ends of loopsim over one simulated bus.

#include <string>

#include "sim/scenario.h"

namespace loopmon::sim {

struct ServeOptions {
  Scenario scenario;
  bool trace = false;
};

struct LineOptions {
  Scenario scenario;
  bool trace = false;
  bool echo = false;
  std::string linkPath;  // a symlink to the device, made and removed by loopsim
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
