#pragma once
// What the windows share in building their controls: the texts of windows in
// UTF-8, child controls placed by their 96 DPI rectangles and placed again
// when the DPI changes, outer sizes for a designed client area, and the
// program's icons.

#include <string>
#include <vector>

#include "platform/text_win32.h"

namespace loopmon::win32 {

std::string windowText(HWND window);
void setWindowText(HWND window, const std::string& text);

// A child control; `text` in UTF-8.
HWND createControl(HWND parent, const wchar_t* windowClass, const std::string& text, DWORD style,
                   int id, DWORD exStyle = 0);

// The controls of one window with their rectangles at 96 DPI.
class DesignedLayout {
 public:
  void add(HWND control, int left, int top, int width, int height);
  // Moves every control to its rectangle at `dpi` and gives it `font`.
  void apply(UINT dpi, HFONT font) const;

 private:
  struct Placed {
    HWND control;
    RECT at96;
  };
  std::vector<Placed> placed_;
};

// Sizes `window` so that its client area is `clientWidth` x `clientHeight`
// at 96 DPI, scaled to `dpi`, whatever the frame the system draws around it.
void setClientSize(HWND window, int clientWidth, int clientHeight, UINT dpi);

// Moves `window` to the centre of the work area of the monitor it is on (or
// that of `anchor` when given).
void centreOnMonitor(HWND window, HWND anchor = nullptr);

// An icon of the program's resources at `size` pixels; null when the program
// has none (test programs).
HICON loadProgramIcon(int id, int size);

// Gives `label` `font` and returns the size of its text in it: labels that
// size themselves to their text, as the designed ones did.
SIZE textExtent(HWND label, HFONT font);

// One of the program's window classes with the arrow cursor; a class
// registered before stays as it is. `iconId` 0: no icon of its own.
struct WindowClassLook {
  WNDPROC procedure = DefWindowProcW;
  HBRUSH background = nullptr;
  UINT style = 0;
  int iconId = 0;
};
void registerWindowClass(const wchar_t* name, const WindowClassLook& look = {});

}  // namespace loopmon::win32
