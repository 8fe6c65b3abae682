// `loopsim demo` on Linux: the simulator server with loopmon opened on it;
// the server stops when the window is closed.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "platform/store/program_folder.h"
#include "platform/system/named_marker.h"
#include "sim/front_ends.h"

extern char** environ;

namespace loopmon::sim {

namespace {
std::atomic<int> programStatus{0};
}  // namespace

int playDemo(const ServeOptions& options) {
  // Another server already runs: serving refuses, and no window is opened.
  if (makeMarkerService(runtimeFolder)->openExisting("SIMUL")) return serveSimulator(options);
  // SIGTERM ends the server only once its handler is in place.
  stopSignalDescriptor();
  std::thread([] {
    // The program goes into simulator mode only if the marker is up when it starts.
    const auto markers = makeMarkerService(runtimeFolder);
    for (int tries = 0; tries < 200 && !markers->openExisting("SIMUL"); ++tries) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::string program = programFolder() + "loopmon";
    char* arguments[] = {program.data(), nullptr};
    pid_t child = -1;
    if (const int error =
            posix_spawn(&child, program.c_str(), nullptr, nullptr, arguments, environ)) {
      std::fprintf(stderr, "loopsim: cannot start %s: %s\n", program.c_str(), std::strerror(error));
      programStatus = 1;
    } else {
      int status = 0;
      while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
      }
    }
    kill(getpid(), SIGTERM);
  }).detach();
  const int served = serveSimulator(options);
  return served != 0 ? served : programStatus.load();
}

}  // namespace loopmon::sim
