#pragma once
// Ctrl-C and termination requests for loopctl's long work: while a guard
// lives, SIGINT and SIGTERM are only noted, so the work can end between two
// steps, leave the port and the files in order, and report what it did.

namespace loopmon::cli {

class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

  // The signal that asked for the end, 0 while none has.
  static int requested();
  // Asks for the end as `signal` would, from any thread: a service
  // manager's stop comes as SIGTERM.
  static void request(int signal);
  // The exit status for the signal received: 128 + its number, as shells report it.
  static int exitStatus();
};

}  // namespace loopmon::cli
