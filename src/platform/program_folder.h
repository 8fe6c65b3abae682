#pragma once
#include <string>

namespace loopmon {

// The folder holding the running executable, with a trailing separator.
std::string programFolder();

// Folder for per-user runtime files (markers, the simulator socket):
// $XDG_RUNTIME_DIR/loopmon/ on POSIX, created on demand.
std::string runtimeFolder();

}  // namespace loopmon
