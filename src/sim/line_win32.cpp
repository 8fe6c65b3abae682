#include <cstdio>

#include "sim/front_ends.h"

namespace loopmon::sim {

// Windows has no pseudo-terminals: a simulated line for the serial code is
// played on Linux and reached over the network (ser2net) or a COM port pair.
int playLine(const LineOptions&) {
  std::fputs("loopsim: pty runs on Linux only; on Windows use loopsim serve\n", stderr);
  return 2;
}

}  // namespace loopmon::sim
