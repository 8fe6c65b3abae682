#pragma once
// loopctl's long work run by the system's service manager. Windows starts a
// service through a dispatcher that calls the work back on a thread of its
// own and hands it the manager's stop; systemd runs the program as it is,
// with SIGTERM for the stop, so there the work simply runs.

#include <functional>

namespace loopmon::cli {

// `work` gets `running`, to call once it takes stops (an InterruptGuard
// lives): until then the manager shows the service as starting. A stop from
// the manager is then a SIGTERM for InterruptGuard. Returns the work's exit
// status; throws CliError when the manager did not start this program.
int RunAsService(const std::function<int(const std::function<void()>& running)>& work);

}  // namespace loopmon::cli
