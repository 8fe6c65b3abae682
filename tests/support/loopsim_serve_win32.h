#pragma once
// `loopsim.exe serve` in a process of its own for the Windows tests: waited
// for until it holds "SIMUL", stopped with the test as Ctrl-C stops it. A
// killed server would leave its classes with Wine's RPC service, and no later
// server could be reached.

#include <fstream>
#include <sstream>
#include <string>

#include "platform/store/program_folder.h"
#include "platform/system/named_marker.h"
#include "platform/system/windows_api_win32.h"

namespace loopmon::testing {

class LoopsimServe {
 public:
  // `arguments` follow "serve"; what it prints goes to a log of its own.
  explicit LoopsimServe(const std::string& arguments = "") {
    wchar_t folder[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, folder);
    logPath_ = win32::narrow(folder) + "loopsim-" + std::to_string(GetCurrentProcessId()) + ".log";
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE log = CreateFileW(win32::widen(logPath_).c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherited,
                             CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = log;
    // Wine on a loaded machine has once refused a process start outright;
    // a second try a moment later is what a user would do.
    for (int attempt = 0; attempt < 3 && !started_; ++attempt) {
      if (attempt > 0) Sleep(1000);
      std::wstring command = win32::widen("\"" LOOPSIM_PATH "\" serve " + arguments);
      started_ = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                nullptr, nullptr, &startup, &process_);
      if (!started_) startError_ = GetLastError();
    }
    CloseHandle(log);
    const auto markers = makeMarkerService(runtimeFolder);
    for (int tries = 0; started_ && tries < 300 && !markers->openExisting("SIMUL"); ++tries) {
      Sleep(100);
    }
  }

  ~LoopsimServe() {
    if (started_) {
      const std::wstring name = L"loopsim-stop-" + std::to_wstring(process_.dwProcessId);
      if (HANDLE stop = OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str())) {
        SetEvent(stop);
        CloseHandle(stop);
      }
      if (WaitForSingleObject(process_.hProcess, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(process_.hProcess, 0);
        WaitForSingleObject(process_.hProcess, INFINITE);
      }
      CloseHandle(process_.hThread);
      CloseHandle(process_.hProcess);
    }
    DeleteFileW(win32::widen(logPath_).c_str());
  }
  LoopsimServe(const LoopsimServe&) = delete;
  LoopsimServe& operator=(const LoopsimServe&) = delete;

  bool started() const { return started_; }
  // Why it did not start, for the test's message.
  std::string startFailure() const {
    return "starting " LOOPSIM_PATH " failed with error " + std::to_string(startError_);
  }

  // How many times its log shows `text`.
  int countInLog(const std::string& text) const {
    std::ifstream file(logPath_);
    std::stringstream log;
    log << file.rdbuf();
    const std::string whole = log.str();
    int count = 0;
    for (size_t at = whole.find(text); at != std::string::npos; at = whole.find(text, at + 1)) {
      ++count;
    }
    return count;
  }

  // Takes away every registration of the simulator's ProgIDs.
  static void forgetRegistration() {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
      for (const wchar_t* progId : {L"Simul.Simulator", L"Simul.Simul2"}) {
        const std::wstring key = std::wstring(L"Software\\Classes\\") + progId;
        wchar_t classId[64] = {};
        DWORD size = sizeof classId;
        if (RegGetValueW(root, (key + L"\\CLSID").c_str(), nullptr, RRF_RT_REG_SZ, nullptr, classId,
                         &size) == ERROR_SUCCESS) {
          RegDeleteTreeW(root, (std::wstring(L"Software\\Classes\\CLSID\\") + classId).c_str());
        }
        RegDeleteTreeW(root, key.c_str());
      }
    }
  }

 private:
  std::string logPath_;
  PROCESS_INFORMATION process_{};
  bool started_ = false;
  DWORD startError_ = 0;
};

}  // namespace loopmon::testing
