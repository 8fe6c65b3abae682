#pragma once
// A panel used as a toggle: a centred caption inside a lowered or raised
// bevel. A press and release of the left button inside it reach the parent
// as WM_COMMAND with BN_CLICKED, as a button's click does.

#include "gui/win32/window.h"

namespace loopmon::win32 {

class TogglePanel : public DrawnControl {
 public:
  TogglePanel(HWND parent, int id, DWORD style);

  bool lowered() const { return lowered_; }
  void setLowered(bool lowered);

 protected:
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam) override;
  void paint(HDC dc, const RECT& client) override;

 private:
  bool lowered_ = false;
  bool pressed_ = false;
};

}  // namespace loopmon::win32
