#include "child_process.h"

#include <vector>

namespace loopmon::test {

ChildProcess::ChildProcess(const std::string& commandLine) {
  std::wstring line = win32::widen(commandLine);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &info)) {
    CloseHandle(info.hThread);
    process_ = info.hProcess;
  }
}

ChildProcess::~ChildProcess() {
  if (!process_) return;
  if (wait(0) < 0) kill();
  CloseHandle(process_);
}

long ChildProcess::wait(DWORD timeoutMs) {
  if (!process_ || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  return static_cast<long>(code);
}

void ChildProcess::kill() {
  if (!process_) return;
  TerminateProcess(process_, 9);
  WaitForSingleObject(process_, INFINITE);
}

std::string captureOutput(const std::string& commandLine) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return {};
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  std::wstring line = win32::widen(commandLine);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION info{};
  const bool started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &info) != 0;
  // Our copy of the write end must go, or the read below never sees the end.
  CloseHandle(writeEnd);
  std::string output;
  if (started) {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      output.append(buffer, got);
    }
    WaitForSingleObject(info.hProcess, INFINITE);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
  CloseHandle(readEnd);
  return output;
}

NamedEvent::NamedEvent(const std::string& name)
    : event_(CreateEventW(nullptr, TRUE, FALSE, win32::widen(name).c_str())) {}

NamedEvent::~NamedEvent() {
  if (event_) CloseHandle(event_);
}

bool NamedEvent::wait(DWORD timeoutMs) {
  return event_ && WaitForSingleObject(event_, timeoutMs) == WAIT_OBJECT_0;
}

void NamedEvent::set() {
  if (event_) SetEvent(event_);
}

}  // namespace loopmon::test
