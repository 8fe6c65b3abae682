#include <csignal>
#include <exception>
#include <string>

#include "cli/cli_args.h"
#include "cli/help.h"
#include "cli/interrupt.h"
#include "cli/service.h"
#include "platform/system/windows_api_win32.h"

namespace loopmon::cli {
namespace {

// The dispatcher calls the service's main function with no room for a
// context, so what it needs waits here; one service per process.
const std::function<int(const std::function<void()>&)>* serviceWork = nullptr;
SERVICE_STATUS_HANDLE statusHandle = nullptr;
int exitStatus = 0;

void report(DWORD state) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted =
      state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  // A failed watch shows as the service's own error, with loopctl's status.
  status.dwWin32ExitCode = exitStatus == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
  status.dwServiceSpecificExitCode = static_cast<DWORD>(exitStatus);
  status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 30'000;
  SetServiceStatus(statusHandle, &status);
}

DWORD WINAPI control(DWORD code, DWORD, void*, void*) {
  switch (code) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      report(SERVICE_STOP_PENDING);
      InterruptGuard::request(SIGTERM);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI serviceMain(DWORD, LPWSTR*) {
  // The name goes unchecked for a service that has its process to itself.
  statusHandle = RegisterServiceCtrlHandlerExW(L"loopctl", control, nullptr);
  if (!statusHandle) return;
  report(SERVICE_START_PENDING);
  try {
    exitStatus = (*serviceWork)([] { report(SERVICE_RUNNING); });
  } catch (const std::exception&) {
    // Nobody reads the error of a service; its status says it failed.
    exitStatus = ExitFailure;
  }
  report(SERVICE_STOPPED);
}

}  // namespace

int RunAsService(const std::function<int(const std::function<void()>& running)>& work) {
  serviceWork = &work;
  wchar_t name[] = L"loopctl";
  const SERVICE_TABLE_ENTRYW table[] = {{name, serviceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) {
    const DWORD error = GetLastError();
    throw CliError("--service: " +
                   (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT
                        ? std::string("not started by the service manager (see sc create)")
                        : win32::systemMessage(error)));
  }
  return exitStatus;
}

}  // namespace loopmon::cli
