#pragma once
// Other processes for the cross-process proofs: a program of our own started
// with arguments, or a system tool whose standard output is wanted.

#include <string>

#include "platform/text_win32.h"

namespace loopmon::test {

class ChildProcess {
 public:
  // Starts `commandLine` (program and arguments, quoted as CreateProcess wants).
  explicit ChildProcess(const std::string& commandLine);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return process_ != nullptr; }
  // Waits for the end; the exit code, or -1 when it did not end within `timeoutMs`.
  long wait(DWORD timeoutMs);
  // Ends the process the hard way, as a crash would.
  void kill();

 private:
  HANDLE process_ = nullptr;
};

// Runs `commandLine` to its end and returns what it wrote to standard output.
std::string captureOutput(const std::string& commandLine);

// A named event the test waits on and a child signals.
class NamedEvent {
 public:
  explicit NamedEvent(const std::string& name);
  ~NamedEvent();
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;

  bool wait(DWORD timeoutMs);
  void set();

 private:
  HANDLE event_ = nullptr;
};

}  // namespace loopmon::test
