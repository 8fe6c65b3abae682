#pragma once
// A panel used as a toggle: a centred caption inside a lowered or raised
// bevel. A press and release of the left button inside it reach the parent
// as WM_COMMAND with BN_CLICKED, as a button's click does.

#include <string>

#include "platform/text_win32.h"

namespace loopmon::win32 {

class TogglePanel {
 public:
  TogglePanel(HWND parent, int id, const std::string& caption);
  ~TogglePanel();
  TogglePanel(const TogglePanel&) = delete;
  TogglePanel& operator=(const TogglePanel&) = delete;

  HWND window() const { return window_; }
  bool lowered() const { return lowered_; }
  void setLowered(bool lowered);

 private:
  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  void paint(HDC dc);

  HWND window_ = nullptr;
  HFONT font_ = nullptr;
  bool lowered_ = false;
  bool pressed_ = false;
};

}  // namespace loopmon::win32
