#pragma once
#include <string>

namespace loopmon {

// The folder holding the running executable, with a trailing separator.
std::string programFolder();

// Folder for per-user runtime files (markers, the simulator socket), with a
// trailing separator: $XDG_RUNTIME_DIR/loopmon/ on POSIX, or /tmp/loopmon-<uid>/
// without that variable; created on demand, private to the user. Empty when no
// such folder can be had (one under /tmp that another user owns).
std::string runtimeFolder();

}  // namespace loopmon
