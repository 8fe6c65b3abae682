#include "cli/service.h"

namespace loopmon::cli {

// systemd's unit starts the program as it is and stops it with SIGTERM,
// which InterruptGuard takes already.
int RunAsService(const std::function<int(const std::function<void()>& running)>& work) {
  return work([] {});
}

}  // namespace loopmon::cli
