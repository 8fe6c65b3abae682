#include "session/worker.h"

namespace loopmon {

void TRSSession::WorkerCycle() {
  worker_->Cycle();
}

}  // namespace loopmon
