#include "cli/interrupt.h"

#include <csignal>

namespace loopmon::cli {
namespace {

volatile std::sig_atomic_t received = 0;

extern "C" void noteSignal(int signal) {
  received = signal;
}

}  // namespace

InterruptGuard::InterruptGuard() {
  received = 0;
  std::signal(SIGINT, noteSignal);
  std::signal(SIGTERM, noteSignal);
}

InterruptGuard::~InterruptGuard() {
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
}

int InterruptGuard::requested() {
  return received;
}

int InterruptGuard::exitStatus() {
  return 128 + received;
}

}  // namespace loopmon::cli
