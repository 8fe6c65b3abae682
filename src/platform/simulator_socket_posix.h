#pragma once
// The Unix socket between SimulatorLink and `loopsim serve`. One line per
// call each way: the client sends the method name, one space and the request
// text; the server answers with the answer text ("" when no device answers).

#include <cstddef>
#include <string>

namespace loopmon {

// runtimeFolder() + "simul.sock"; "" when there is no runtime folder.
std::string simulatorSocketPath();

// Longest line either side accepts, newline included. Frames in text form
// stay far below it; anything longer is garbage.
inline constexpr size_t MaxSimulatorLineBytes = 4096;

}  // namespace loopmon
