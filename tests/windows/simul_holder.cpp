// Holds "SIMUL" until it is killed, as the running simulator server does for
// every program on the machine.

#include "platform/named_marker.h"
#include "platform/text_win32.h"

int main() {
  bool alreadyExisted = false;
  const auto hold = loopmon::makeMarkerService()->create("SIMUL", alreadyExisted);
  if (!hold) return 1;
  Sleep(INFINITE);
}
