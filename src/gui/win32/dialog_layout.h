#pragma once
// The dialogs were designed in pixels at 96 DPI. A DialogLayout keeps each
// control's designed rectangle and font, and places them for the DPI of the
// dialog's monitor: when the dialog is created and again after WM_DPICHANGED.

#include <memory>
#include <vector>

#include "platform/text_win32.h"

namespace loopmon::win32 {

// A dialog template without controls (they are created in WM_INITDIALOG), so
// that the dialog manager supplies the keyboard interface: Tab, Enter, Esc.
std::vector<WORD> emptyDialogTemplate(DWORD style, DWORD exStyle, const wchar_t* caption);

// The face of the dialogs' designed "MS Sans Serif": its TrueType cut, so that
// the text stays crisp when scaled for a high-DPI screen.
inline constexpr wchar_t DialogFace[] = L"Microsoft Sans Serif";

class DialogLayout {
 public:
  struct Font {
    int pixelHeight;
    bool bold;
  };
  // A designed rectangle.
  struct Box {
    int left;
    int top;
    int width;
    int height;
  };

  explicit DialogLayout(HWND dialog);
  ~DialogLayout();
  DialogLayout(const DialogLayout&) = delete;
  DialogLayout& operator=(const DialogLayout&) = delete;

  HWND add(const wchar_t* className, const wchar_t* text, DWORD style, int id, Box designed,
           Font font, DWORD exStyle = 0);

  // The client area at the current DPI, the window centred on its monitor's work area.
  void sizeCentred(int clientWidth, int clientHeight);
  // Places every control and sets the fonts for `dpi`; the window itself is
  // sized by the caller (WM_DPICHANGED gives its rectangle).
  void apply(UINT dpi);

  UINT dpi() const { return dpi_; }
  int scaled(int pixelsAt96) const;
  // The font at the current DPI; owned by the layout.
  HFONT font(Font font);

 private:
  struct Control {
    HWND window;
    Box designed;
    Font font;
  };
  struct CachedFont {
    Font font;
    HFONT handle;
  };

  HWND dialog_;
  UINT dpi_;
  std::vector<Control> controls_;
  std::vector<CachedFont> fonts_;
};

// Tab, Enter and Esc for a modeless dialog whatever message loop runs: the
// thread's messages pass through IsDialogMessage of the dialogs registered
// here. A dialog leaves the list before it is destroyed.
void addModelessDialog(HWND dialog);
void removeModelessDialog(HWND dialog);

// The window rectangle for a client area of `width` x `height` at `dpi`.
SIZE windowSizeForClient(DWORD style, DWORD exStyle, int width, int height, UINT dpi);

}  // namespace loopmon::win32
