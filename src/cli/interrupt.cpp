#include "cli/interrupt.h"

#include <atomic>
#include <csignal>

namespace loopmon::cli {
namespace {

// Set by a signal handler or by another thread, so lock-free.
std::atomic<int> received{0};
static_assert(std::atomic<int>::is_always_lock_free);

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

void InterruptGuard::request(int signal) {
  received = signal;
}

int InterruptGuard::exitStatus() {
  return 128 + received;
}

}  // namespace loopmon::cli
