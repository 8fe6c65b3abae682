#pragma once
// The one base of the program's Win32 windows. A Window binds its object when
// the window is created (WM_NCCREATE) and hands every message to its virtual
// handler. A FormWindow is a top-level window built from its form
// description: its controls created in tab order, placed for the DPI of its
// monitor and placed again when that changes, its hints, its keyboard (Tab,
// Enter on the focused button or the default one, Esc), and one way to run it
// modally over every other window of the program.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "desktop/form.h"
#include "platform/system/windows_api_win32.h"

#include <commctrl.h>

namespace loopmon::win32 {

std::string windowText(HWND window);
void setWindowText(HWND window, const std::string& text);

// The window's DPI; 96 where the system cannot tell (before Windows 10 1607).
UINT windowDpi(HWND window);

// An icon of the program's resources at `size` pixels; null when the program
// has none (test programs).
HICON loadProgramIcon(int id, int size);

class Window {
 public:
  Window() = default;
  // Destroys the window if it is still there.
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  HWND hwnd() const { return hwnd_; }

 protected:
  struct Class {
    std::wstring name;
    HBRUSH background = nullptr;
    UINT style = 0;
    int iconId = 0;
  };
  // Creates the window of `windowClass` (registered on first use) bound to this
  // object; `parent` is the owner of a top-level window.
  HWND createWindow(const Class& windowClass, DWORD style, DWORD exStyle, const std::string& text,
                    HWND parent, int id = 0);
  // Every message of the window; by default the system's handling.
  virtual LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND hwnd_ = nullptr;
};

// A control the program draws whole: off screen and onto the screen in one
// piece (a periodic reading repaints many times a second), into the given DC
// for WM_PRINTCLIENT, in the font its window gives it, at the DPI its window
// lays out at.
class DrawnControl : public Window {
 public:
  // The DPI the window that holds the control lays out at.
  void setDpi(UINT dpi);
  UINT dpi() const { return dpi_; }
  HFONT font() const { return font_; }

 protected:
  virtual void paint(HDC dc, const RECT& client) = 0;
  // After the DPI changed.
  virtual void dpiChanged() {}
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  HFONT font_ = nullptr;
  UINT dpi_ = 96;
};

// While it lives, every window of the program that takes input, but `kept`,
// is disabled: a modal window or box leaves nothing else usable.
class OtherWindowsDisabled {
 public:
  explicit OtherWindowsDisabled(HWND kept);
  ~OtherWindowsDisabled();
  OtherWindowsDisabled(const OtherWindowsDisabled&) = delete;
  OtherWindowsDisabled& operator=(const OtherWindowsDisabled&) = delete;

 private:
  std::vector<HWND> disabled_;
};

class FormWindow : public Window {
 public:
  explicit FormWindow(const WindowForm& form, int iconId = 0);
  ~FormWindow() override;

  const WindowForm& form() const { return form_; }
  HWND control(int id) const { return GetDlgItem(hwnd(), id); }
  // The object behind a control the program draws (loop table, toggle panel, plot).
  template <class Control>
  Control& custom(int id) const {
    return static_cast<Control&>(*custom_.at(id));
  }
  UINT dpi() const { return dpi_; }
  // The font of `spec` at the window's DPI; owned by the window.
  HFONT font(const FontSpec& spec);
  HFONT fontOf(const ControlForm& control) {
    return font(control.font ? *control.font : form_.font);
  }
  // The hint a control shows, "" for none.
  std::string hint(int id) const;
  // The text the model list `id` draws in row `row`.
  virtual std::string listRow(int /*id*/, int /*row*/) const { return {}; }

  // Shown and brought to the front; centred on `anchor`'s monitor the first time.
  void show(HWND anchor = nullptr);
  // Shown and brought to the front; beside `anchor` on its monitor the first time.
  void showBeside(HWND anchor);
  // Shown modally over `owner`: every other window of the program is disabled
  // until endModal, then the window hides and `owner` is active again.
  void runModal(HWND owner);
  void endModal();
  bool runningModal() const { return modal_ && !ending_; }
  // Gives `id` the keyboard focus; nothing while the window is hidden, so that
  // a hidden window never takes the keyboard.
  void focus(int id);
  // Enables or disables a control (a spin edit with its arrows).
  void enable(int id, bool enabled);
  // The client area `extra` pixels larger than designed; the controls follow
  // as the form says.
  void setExtraSize(Size extra);
  // Places the controls again (a label that sizes itself has a new text).
  void layOut();

 protected:
  // Creates the window hidden, with every control, for the DPI of `owner`'s monitor.
  void create(HWND owner = nullptr);
  virtual void onCommand(int /*id*/, int /*code*/) {}
  virtual void onTimer(UINT_PTR /*id*/) {}
  // Esc, the cancel command; by default nothing.
  virtual void onCancel() {}
  // The close box; by default as Esc.
  virtual void onClose() { onCancel(); }
  // The window became active (true) or inactive.
  virtual void onActivated(bool /*active*/) {}
  // After the controls were placed, for the fonts and DPI they now have.
  virtual void onLaidOut() {}
  // A character typed into an edit; false keeps it out.
  virtual bool acceptsChar(int /*id*/, wchar_t /*character*/) { return true; }
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  static LRESULT CALLBACK editProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam,
                                   UINT_PTR id, DWORD_PTR window);
  void createControl(const ControlForm& control);
  void addHint(const ControlForm& control);
  void placeHints();
  void drawLabel(const DRAWITEMSTRUCT& item);
  void drawListRow(const DRAWITEMSTRUCT& item);
  void sizeWindow();
  void loadIcons();
  void changeDpi(UINT dpi, const RECT& suggested);

  const WindowForm& form_;
  int iconId_;
  UINT dpi_ = 96;
  Size extra_;
  HWND tooltips_ = nullptr;
  // The window's small icon and the buttons' images at the current DPI.
  std::vector<HICON> icons_;
  // The buttons' pictures by state, the disabled one greyed.
  std::vector<HIMAGELIST> buttonImages_;
  std::map<int, std::unique_ptr<DrawnControl>> custom_;
  std::vector<std::pair<FontSpec, HFONT>> fonts_;
  // The control that had the focus when the window was last left.
  HWND lastFocus_ = nullptr;
  bool built_ = false;
  bool placed_ = false;
  bool modal_ = false;
  bool ending_ = false;
};

}  // namespace loopmon::win32
