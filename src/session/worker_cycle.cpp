#include "session/rssess.h"

namespace loopmon {

void TRSSession::WorkerCycle() {
  // The cycles run back to back; each gives up the rest of its time slice
  // once so the window thread and other programs keep running.
  platform.clock->yield();
}

}  // namespace loopmon
