// How long the Win32 main window's message loop goes without turning while
// the bus is busy: a 10 ms heartbeat timer records its worst lateness (a)
// during a full scan of the demo bus and (b) during a periodic reading of a
// device that stops answering half-way through a pass. The demo bus is
// loopsim behind COM3 (window_stall_win32.sh sets it up and silences it when
// this program writes the file named by its argument).
//   window_stall_bench_win32.exe SILENCE_FILE

#include "platform/system/windows_api_win32.h"

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "gui/win32/main_window.h"
#include "gui/win32/search_dialog.h"
#include "gui/win32/window.h"
#include "platform/store/profile_file.h"

using namespace loopmon;
using namespace loopmon::win32;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr UINT HeartbeatMs = 10;

// The worst lateness of a 10 ms timer while it runs.
class Heartbeat {
 public:
  void start() {
    worstMs_ = 0;
    last_ = SteadyClock::now();
    current_ = this;
    id_ = SetTimer(nullptr, 0, HeartbeatMs, &beat);
  }
  long long stop() {
    KillTimer(nullptr, id_);
    current_ = nullptr;
    return worstMs_;
  }

 private:
  static void CALLBACK beat(HWND, UINT, UINT_PTR, DWORD) {
    if (current_ == nullptr) return;
    const auto now = SteadyClock::now();
    const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(now - current_->last_);
    current_->last_ = now;
    current_->worstMs_ = std::max<long long>(current_->worstMs_, gap.count() - HeartbeatMs);
  }

  static inline Heartbeat* current_ = nullptr;
  UINT_PTR id_ = 0;
  SteadyClock::time_point last_;
  long long worstMs_ = 0;
};

bool pumpUntil(const std::function<bool()>& done, int limitMs) {
  const auto end = SteadyClock::now() + std::chrono::milliseconds(limitMs);
  while (!done()) {
    if (SteadyClock::now() > end) return false;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
  return true;
}

bool captionEndsWith(HWND window, const std::string& end) {
  const std::string caption = windowText(window);
  return caption.size() >= end.size() &&
         caption.compare(caption.size() - end.size(), end.size(), end) == 0;
}

std::function<void()> insideDialog;

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: window_stall_bench_win32 SILENCE_FILE\n");
    return 2;
  }
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  const auto folder = std::filesystem::temp_directory_path() /
                      ("loopmon-stall-" + std::to_string(GetCurrentProcessId()));
  std::filesystem::create_directories(folder);
  const std::string settings = narrow((folder / "pcom.ini").wstring());
  ProfileFile(settings).writeString("Port", "Num", "2");  // COM3

  long long scanWorstMs = -1;
  long long readingWorstMs = -1;
  double scanS = 0;
  bool ok = false;
  {
    MainWindow window(Platform::system(),
                      Desktop::Files{narrow((folder / "ohmgauge.kft").wstring()), settings});
    window.show();
    Heartbeat heartbeat;

    // (a) A full scan, then device 5 chosen.
    SearchDialog& dialog = window.searchDialog();
    insideDialog = [&] {
      heartbeat.start();
      const auto started = SteadyClock::now();
      SendMessageW(dialog.control(search_form::SearchButton), BM_CLICK, 0, 0);
      pumpUntil([&] { return !dialog.model().procedure().Scanning(); }, 600000);
      scanWorstMs = heartbeat.stop();
      scanS = std::chrono::duration<double>(SteadyClock::now() - started).count();
      SendMessageW(dialog.control(search_form::DeviceList), LB_SETCURSEL, 1, 0);
      SendMessageW(dialog.control(search_form::ChooseButton), BM_CLICK, 0, 0);
    };
    SetTimer(nullptr, 0, 1, [](HWND, UINT, UINT_PTR id, DWORD) {
      KillTimer(nullptr, id);
      insideDialog();
    });
    SendMessageW(window.control(main_form::SearchButton), BM_CLICK, 0, 0);
    if (!pumpUntil([&] { return window.device().DevAddr == 5; }, 10000)) {
      std::fprintf(stderr, "window_stall_bench_win32: device 5 was not found\n");
      return 1;
    }

    // (b) Periodic reading; the line falls silent once loop 10 is being read.
    HWND periodic = window.control(main_form::PeriodicButton);
    heartbeat.start();
    SendMessageW(periodic, BM_CLICK, 0, 0);
    pumpUntil([&] { return captionEndsWith(window.hwnd(), "№10"); }, 60000);
    std::ofstream(argv[1]) << "silence\n";
    ok = pumpUntil([&] { return captionEndsWith(window.hwnd(), "№13"); }, 120000);
    readingWorstMs = heartbeat.stop();
    SendMessageW(periodic, BM_CLICK, 0, 0);
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);

  std::printf(
      "Win32 window stall under Wine, worst lateness of a %u ms heartbeat (goal: at most 50 ms)\n",
      HeartbeatMs);
  std::printf("  full scan of the demo bus (%.1f s):             %lld ms\n", scanS, scanWorstMs);
  std::printf("  periodic reading, device silent from loop 10: %lld ms%s\n", readingWorstMs,
              ok ? "" : " (loop 13 not reached)");
  return ok ? 0 : 1;
}
