#pragma once
// Driving the Win32 windows from a test as a user would, with window
// messages: clicks, keys and mouse moves, bounded waits that keep the
// messages flowing, modal windows driven from inside their own loops, and the
// message boxes taken instead of shown.

#include "platform/text_win32.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "gui/win32/controls.h"
#include "gui/win32/message_box.h"
#include "platform/text_win32.h"

namespace loopmon::win32::testing {

// The common controls' classes, as the program registers them at start.
inline const bool commonControlsReady = [] {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  return InitCommonControlsEx(&controls) != FALSE;
}();

// Takes the thread's messages until `done` holds or `limitMs` has passed.
inline bool pumpUntil(const std::function<bool()>& done, int limitMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
  return true;
}

inline void pumpFor(int ms) {
  pumpUntil([] { return false; }, ms);
}

inline void click(HWND button) {
  SendMessageW(button, BM_CLICK, 0, 0);
}

inline LPARAM at(POINT point) {
  return MAKELPARAM(point.x, point.y);
}

inline POINT centre(const RECT& rect) {
  return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

// A press and release of the left button in the middle of `control`.
inline void mouseClick(HWND control) {
  RECT rect{};
  GetClientRect(control, &rect);
  const LPARAM point = at(centre(rect));
  SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, point);
  SendMessageW(control, WM_LBUTTONUP, 0, point);
}

inline void typeChars(HWND control, const std::wstring& text) {
  for (wchar_t c : text) SendMessageW(control, WM_CHAR, c, 1);
}

inline bool enabled(HWND control) {
  return IsWindowEnabled(control) != FALSE;
}

inline bool checked(HWND button) {
  return SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// Runs `inside` from the next turn of whichever message loop runs, so a
// modal window opened meanwhile can be driven from its own loop.
inline void runSoon(std::function<void()> inside) {
  static std::function<void()> pending;
  pending = std::move(inside);
  SetTimer(nullptr, 0, 1, [](HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    auto call = std::move(pending);
    pending = nullptr;
    if (call) call();
  });
}

// Takes every message box while it lives, as "caption: text".
struct BoxCapture {
  BoxCapture() {
    setMessageBoxHook([this](const std::string& text, const std::string& caption, UINT) {
      boxes.push_back(caption + ": " + text);
    });
  }
  ~BoxCapture() { setMessageBoxHook({}); }
  std::vector<std::string> boxes;
};

// A folder of the test's own under the system's temporary folder.
class TempFolder {
 public:
  TempFolder() {
    wchar_t base[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, base);
    path_ =
        std::filesystem::path(base) / ("loopmon-win32-" + std::to_string(GetCurrentProcessId()) +
                                       "-" + std::to_string(GetTickCount64()));
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  std::string file(const char* name) const { return narrow((path_ / name).wstring()); }

 private:
  std::filesystem::path path_;
};

}  // namespace loopmon::win32::testing
