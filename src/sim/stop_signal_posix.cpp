#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "sim/front_ends.h"

namespace loopmon::sim {

namespace {

int stopPipe[2] = {-1, -1};

void onStopSignal(int) {
  const int saved = errno;
  const char byte = 0;
  [[maybe_unused]] const ssize_t n = write(stopPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

int stopSignalDescriptor() {
  if (stopPipe[0] < 0) {
    if (pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
  }
  return stopPipe[0];
}

}  // namespace loopmon::sim
