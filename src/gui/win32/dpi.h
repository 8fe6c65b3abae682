#pragma once
// The windows were laid out in pixels at 96 DPI. With per-monitor awareness
// every rectangle and font is scaled to the DPI of the monitor a window is on,
// and again when it moves to another one (WM_DPICHANGED).

#include "platform/text_win32.h"

namespace loopmon::win32 {

// The window's DPI; 96 where the system cannot tell (before Windows 10 1607).
UINT windowDpi(HWND window);

// A length of the 96 DPI layout at `dpi`.
inline int scaled(int pixelsAt96, UINT dpi) {
  return MulDiv(pixelsAt96, static_cast<int>(dpi), 96);
}

// A font `pixelHeight` pixels high at 96 DPI (the cell height, as a form
// designer gives it), scaled to `dpi`; `charset` RUSSIAN_CHARSET for Cyrillic
// faces of the old code pages. The caller deletes it with DeleteObject.
HFONT createDesignedFont(const wchar_t* face, int pixelHeight, bool bold, UINT dpi,
                         BYTE charset = DEFAULT_CHARSET);

}  // namespace loopmon::win32
