#include "gui/win32/window.h"

#include <commctrl.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>

#include "gui/win32/loop_table.h"
#include "gui/win32/plot.h"
#include "gui/win32/resources/resource_ids.h"
#include "gui/win32/toggle_panel.h"

namespace loopmon::win32 {

namespace {

// The list that a drop-down list opens below its field, at 96 DPI.
constexpr int DropDownListHeight = 160;
// The arrows of a spin edit take this much of its designed width, at the right.
constexpr int SpinArrowsWidth = 16;
// The arrows' id beside their field's.
constexpr int SpinArrowsId = 1000;
// The buttons' images and the window's small icon, at 96 DPI.
constexpr int IconSize = 16;
// A button's image list holds a picture per state, in the order of the
// visual styles' push button states: normal, hot, pressed, disabled,
// defaulted, stylus hot.
constexpr int ButtonStates = 6;
constexpr int DisabledState = 3;
// A drawn list row's text starts this far in, as a list box's own does, at 96 DPI.
constexpr int ListRowIndent = 2;

int iconResource(ButtonIcon icon) {
  switch (icon) {
    case ButtonIcon::Search:
      return LOOPMON_ICON_SEARCH;
    case ButtonIcon::Read:
      return LOOPMON_ICON_READ;
    case ButtonIcon::Tools:
      return LOOPMON_ICON_TOOLS;
    case ButtonIcon::Periodic:
      return LOOPMON_ICON_PERIODIC;
    case ButtonIcon::None:
      break;
  }
  return 0;
}

// Every form window of the thread, for its keyboard.
struct KeyboardWindows {
  std::vector<HWND> windows;
  HHOOK hook = nullptr;
};

KeyboardWindows& keyboardWindows() {
  thread_local KeyboardWindows registered;
  return registered;
}

bool isPushButton(HWND control) {
  wchar_t name[16] = {};
  GetClassNameW(control, name, static_cast<int>(std::size(name)));
  if (lstrcmpiW(name, WC_BUTTONW) != 0) return false;
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(control, GWL_STYLE));
  const DWORD type = style & BS_TYPEMASK;
  return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON || (style & BS_PUSHLIKE) != 0;
}

// The keys of every form window pass the dialog manager, whatever message
// loop takes them (the program's, a modal window's, a test's). Enter on a
// push button that has the focus clicks it, as Windows users expect.
LRESULT CALLBACK keyboardHook(int code, WPARAM removal, LPARAM lParam) {
  auto* message = reinterpret_cast<MSG*>(lParam);
  if (code == HC_ACTION && removal == PM_REMOVE && message->message >= WM_KEYFIRST &&
      message->message <= WM_KEYLAST) {
    for (HWND window : keyboardWindows().windows) {
      if (message->hwnd != window && !IsChild(window, message->hwnd)) continue;
      const HWND target = message->hwnd;
      const bool enterOnButton = message->message == WM_KEYDOWN && message->wParam == VK_RETURN &&
                                 target != window && isPushButton(target) &&
                                 IsWindowEnabled(target);
      if (enterOnButton) {
        SendMessageW(target, BM_CLICK, 0, 0);
        message->message = WM_NULL;
      } else if (IsDialogMessageW(window, message)) {
        // Handled: the loop that took it dispatches nothing.
        message->message = WM_NULL;
      }
      break;
    }
  }
  return CallNextHookEx(nullptr, code, removal, lParam);
}

void takeKeyboard(HWND window) {
  KeyboardWindows& registered = keyboardWindows();
  if (!registered.hook) {
    registered.hook = SetWindowsHookExW(WH_GETMESSAGE, keyboardHook, nullptr, GetCurrentThreadId());
  }
  registered.windows.push_back(window);
}

void leaveKeyboard(HWND window) {
  KeyboardWindows& registered = keyboardWindows();
  std::erase(registered.windows, window);
  if (registered.windows.empty() && registered.hook) {
    UnhookWindowsHookEx(registered.hook);
    registered.hook = nullptr;
  }
}

// The face of the designed one that this system has: "MS Sans Serif" is a
// bitmap font that does not scale, its TrueType cut does.
std::wstring faceOf(const FontSpec& spec) {
  if (std::strcmp(spec.family, "MS Sans Serif") == 0) return L"Microsoft Sans Serif";
  return widen(spec.family);
}

bool sameFont(const FontSpec& a, const FontSpec& b) {
  return std::strcmp(a.family, b.family) == 0 && a.pixelHeight == b.pixelHeight &&
         a.bold == b.bold && a.fixedPitch == b.fixedPitch;
}

SIZE textExtent(HWND control, HFONT font, const std::wstring& text) {
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, font);
  SIZE extent{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return extent;
}

// The window rectangle's size for a client area of `client` at `dpi`.
SIZE windowSizeFor(HWND window, Size client, UINT dpi) {
  using AdjustForDpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static const auto adjustForDpi =
      procAddress<AdjustForDpi>(L"user32.dll", "AdjustWindowRectExForDpi");
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
  const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
  RECT rect{0, 0, client.width, client.height};
  if (!adjustForDpi || !adjustForDpi(&rect, style, FALSE, exStyle, dpi)) {
    AdjustWindowRectEx(&rect, style, FALSE, exStyle);
  }
  return {rect.right - rect.left, rect.bottom - rect.top};
}

void centreOnMonitor(HWND window, HWND anchor) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  GetMonitorInfoW(MonitorFromWindow(anchor ? anchor : window, MONITOR_DEFAULTTOPRIMARY), &info);
  RECT outer{};
  GetWindowRect(window, &outer);
  const RECT& area = info.rcWork;
  SetWindowPos(window, nullptr,
               area.left + (area.right - area.left - (outer.right - outer.left)) / 2,
               area.top + (area.bottom - area.top - (outer.bottom - outer.top)) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND createChild(HWND parent, const wchar_t* windowClass, DWORD style, int id, DWORD exStyle = 0) {
  return CreateWindowExW(exStyle, windowClass, L"", WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0,
                         parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                         GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

std::string windowText(HWND window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  const int length = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  return narrow(text.data(), static_cast<size_t>(length));
}

void setWindowText(HWND window, const std::string& text) {
  SetWindowTextW(window, widen(text).c_str());
}

UINT windowDpi(HWND window) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow =
      procAddress<GetDpiForWindowFunction>(L"user32.dll", "GetDpiForWindow");
  if (getDpiForWindow && window) {
    if (UINT dpi = getDpiForWindow(window); dpi != 0) return dpi;
  }
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

HICON loadProgramIcon(int id, int size) {
  return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON,
                                       size, size, LR_DEFAULTCOLOR));
}

namespace {

// `icon` as a disabled control shows its picture: each colour turned to its
// brightness, lightened, at half the opacity. Null when the icon cannot be read.
HICON greyedIcon(HICON icon) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return nullptr;
  BITMAP bitmap{};
  HICON greyed = nullptr;
  if (info.hbmColor && GetObjectW(info.hbmColor, sizeof bitmap, &bitmap) != 0) {
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = bitmap.bmWidth;
    format.bmiHeader.biHeight = -bitmap.bmHeight;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    std::vector<uint32_t> pixels(static_cast<size_t>(bitmap.bmWidth) * bitmap.bmHeight);
    HDC screen = GetDC(nullptr);
    void* bits = nullptr;
    HBITMAP color = CreateDIBSection(screen, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (color && GetDIBits(screen, info.hbmColor, 0, bitmap.bmHeight, pixels.data(), &format,
                           DIB_RGB_COLORS) == bitmap.bmHeight) {
      for (uint32_t& pixel : pixels) {
        const uint32_t brightness =
            (((pixel >> 16) & 0xFF) * 30 + ((pixel >> 8) & 0xFF) * 59 + (pixel & 0xFF) * 11) / 100;
        const uint32_t grey = 112 + brightness * 9 / 16;
        pixel = ((pixel >> 25) << 24) | (grey << 16) | (grey << 8) | grey;
      }
      std::memcpy(bits, pixels.data(), pixels.size() * sizeof pixels[0]);
      ICONINFO made{TRUE, 0, 0, info.hbmMask, color};
      greyed = CreateIconIndirect(&made);
    }
    if (color) DeleteObject(color);
    ReleaseDC(nullptr, screen);
  }
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  return greyed;
}

}  // namespace

Window::~Window() {
  if (hwnd_) DestroyWindow(hwnd_);
}

HWND Window::createWindow(const Class& windowClass, DWORD style, DWORD exStyle,
                          const std::string& text, HWND parent, int id) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW registered{};
  registered.cbSize = sizeof registered;
  if (!GetClassInfoExW(instance, windowClass.name.c_str(), &registered)) {
    registered.style = windowClass.style;
    registered.lpfnWndProc = &Window::procedure;
    registered.hInstance = instance;
    registered.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    registered.hbrBackground = windowClass.background;
    if (windowClass.iconId != 0) {
      registered.hIcon = loadProgramIcon(windowClass.iconId, GetSystemMetrics(SM_CXICON));
    }
    registered.lpszClassName = windowClass.name.c_str();
    RegisterClassExW(&registered);
  }
  const bool child = (style & WS_CHILD) != 0;
  return CreateWindowExW(exStyle, windowClass.name.c_str(), widen(text).c_str(), style,
                         child ? 0 : CW_USEDEFAULT, child ? 0 : CW_USEDEFAULT, 0, 0, parent,
                         child ? reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)) : nullptr,
                         instance, this);
}

LRESULT Window::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK Window::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* created = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    created->hwnd_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
  }
  auto* self = reinterpret_cast<Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    return DefWindowProcW(window, message, wParam, lParam);
  }
  return self->handle(message, wParam, lParam);
}

void DrawnControl::setDpi(UINT dpi) {
  dpi_ = dpi;
  dpiChanged();
  InvalidateRect(hwnd(), nullptr, FALSE);
}

LRESULT DrawnControl::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd(), &ps);
      RECT client{};
      GetClientRect(hwnd(), &client);
      if (client.right > 0 && client.bottom > 0) {
        HDC buffer = CreateCompatibleDC(dc);
        HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
        HGDIOBJ previous = SelectObject(buffer, bitmap);
        paint(buffer, client);
        BitBlt(dc, 0, 0, client.right, client.bottom, buffer, 0, 0, SRCCOPY);
        SelectObject(buffer, previous);
        DeleteObject(bitmap);
        DeleteDC(buffer);
      }
      EndPaint(hwnd(), &ps);
      return 0;
    }
    case WM_PRINTCLIENT: {
      RECT client{};
      GetClientRect(hwnd(), &client);
      paint(reinterpret_cast<HDC>(wParam), client);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_SETFONT:
      font_ = reinterpret_cast<HFONT>(wParam);
      InvalidateRect(hwnd(), nullptr, FALSE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(font_);
    default:
      return Window::handle(message, wParam, lParam);
  }
}

OtherWindowsDisabled::OtherWindowsDisabled(HWND kept) {
  struct Walk {
    HWND kept;
    std::vector<HWND>* disabled;
  } walk{kept, &disabled_};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM data) -> BOOL {
        auto* w = reinterpret_cast<Walk*>(data);
        if (window != w->kept && IsWindowVisible(window) && IsWindowEnabled(window)) {
          w->disabled->push_back(window);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&walk));
  for (HWND window : disabled_) EnableWindow(window, FALSE);
}

OtherWindowsDisabled::~OtherWindowsDisabled() {
  for (HWND window : disabled_) {
    if (IsWindow(window)) EnableWindow(window, TRUE);
  }
}

FormWindow::FormWindow(const WindowForm& form, int iconId) : form_(form), iconId_(iconId) {}

FormWindow::~FormWindow() {
  // Gone while this object is whole: the controls' objects still stand when
  // their windows are destroyed with it.
  if (hwnd()) DestroyWindow(hwnd());
  for (const auto& [spec, handle] : fonts_) DeleteObject(handle);
  for (HICON icon : icons_) {
    if (icon) DestroyIcon(icon);
  }
  for (HIMAGELIST images : buttonImages_) ImageList_Destroy(images);
}

void FormWindow::create(HWND owner) {
  dpi_ = windowDpi(owner);
  DWORD style = WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN | (owner ? WS_POPUP : WS_OVERLAPPED);
  DWORD exStyle = WS_EX_CONTROLPARENT | (form_.topmost ? WS_EX_TOPMOST : 0);
  if (form_.resizable) {
    style |= WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
  } else {
    exStyle |= WS_EX_DLGMODALFRAME;
    if (form_.minimizable) style |= WS_MINIMIZEBOX;
  }
  createWindow(
      {L"Loopmon." + widen(form_.name), reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1), 0, iconId_},
      style, exStyle, form_.title, owner);
  // The window's own monitor decides, once it has one.
  dpi_ = windowDpi(hwnd());
  tooltips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd(),
                              nullptr, GetModuleHandleW(nullptr), nullptr);
  // Created in tab order: the order of the windows is the order of Tab.
  std::vector<const ControlForm*> order;
  for (const ControlForm& control : form_.controls) order.push_back(&control);
  std::stable_sort(order.begin(), order.end(), [](const ControlForm* a, const ControlForm* b) {
    return (a->tabOrder == 0 ? INT_MAX : a->tabOrder) < (b->tabOrder == 0 ? INT_MAX : b->tabOrder);
  });
  for (const ControlForm* control : order) createControl(*control);
  for (const ControlForm& control : form_.controls) addHint(control);
  takeKeyboard(hwnd());
  built_ = true;
  loadIcons();
  sizeWindow();
  layOut();
}

void FormWindow::createControl(const ControlForm& control) {
  const DWORD tab = control.tabOrder > 0 ? WS_TABSTOP : 0;
  const DWORD disabled = control.enabled ? 0 : WS_DISABLED;
  const DWORD common = tab | disabled;
  HWND created = nullptr;
  switch (control.kind) {
    case ControlKind::Label: {
      const bool subscripts = textRuns(control.text).size() > 1;
      created = createChild(
          hwnd(), WC_STATICW,
          common | SS_NOPREFIX | SS_NOTIFY | (subscripts ? SS_OWNERDRAW : SS_LEFT), control.id);
      break;
    }
    case ControlKind::PushButton: {
      const DWORD type = control.defaultButton ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
      // A picture comes as the button's image list (loadIcons), with or without text.
      created = createChild(hwnd(), WC_BUTTONW, common | type, control.id);
      break;
    }
    case ControlKind::LatchButton:
      // A check box drawn as a button stays down while checked.
      created = createChild(hwnd(), WC_BUTTONW, common | BS_AUTOCHECKBOX | BS_PUSHLIKE, control.id);
      break;
    case ControlKind::TogglePanel:
      custom_[control.id] = std::make_unique<TogglePanel>(hwnd(), control.id, common);
      created = custom_[control.id]->hwnd();
      break;
    case ControlKind::Edit:
    case ControlKind::CodeEdit:
    case ControlKind::SpinEdit: {
      const DWORD code = control.kind == ControlKind::CodeEdit ? ES_PASSWORD : 0;
      created = createChild(hwnd(), WC_EDITW, common | ES_AUTOHSCROLL | code, control.id,
                            WS_EX_CLIENTEDGE);
      if (code) SendMessageW(created, EM_SETPASSWORDCHAR, L'#', 0);
      if (control.maxLength > 0) SendMessageW(created, EM_LIMITTEXT, control.maxLength, 0);
      SetWindowSubclass(created, &FormWindow::editProc, 0, reinterpret_cast<DWORD_PTR>(this));
      if (control.kind == ControlKind::SpinEdit) {
        HWND arrows = createChild(hwnd(), UPDOWN_CLASSW,
                                  disabled | UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS,
                                  control.id + SpinArrowsId);
        SendMessageW(arrows, UDM_SETBUDDY, reinterpret_cast<WPARAM>(created), 0);
        SendMessageW(arrows, UDM_SETRANGE32, control.minimum, control.maximum);
      }
      break;
    }
    case ControlKind::DropDownList:
      created =
          createChild(hwnd(), WC_COMBOBOXW, common | WS_VSCROLL | CBS_DROPDOWNLIST, control.id);
      break;
    case ControlKind::ListBox:
      created =
          // The horizontal bar shows only once a window sets a width wider than the list.
          createChild(hwnd(), WC_LISTBOXW,
                      common | WS_VSCROLL | WS_HSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
                      control.id, WS_EX_CLIENTEDGE);
      break;
    case ControlKind::ProgressBar:
      created = createChild(hwnd(), PROGRESS_CLASSW, common, control.id);
      SendMessageW(created, PBM_SETRANGE32, control.minimum, control.maximum);
      break;
    case ControlKind::CheckBox:
      created = createChild(hwnd(), WC_BUTTONW, common | BS_AUTOCHECKBOX, control.id);
      break;
    case ControlKind::LoopTable:
      custom_[control.id] = std::make_unique<LoopTable>(hwnd(), control.id, common);
      created = custom_[control.id]->hwnd();
      break;
    case ControlKind::Plot:
      custom_[control.id] = std::make_unique<Plot>(hwnd(), control.id);
      created = custom_[control.id]->hwnd();
      break;
    case ControlKind::ModelList:
      // Rows without data: each row is drawn from the window's model (listRow).
      created = createChild(
          hwnd(), WC_LISTBOXW,
          common | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | LBS_OWNERDRAWFIXED | LBS_NODATA,
          control.id, WS_EX_CLIENTEDGE);
      break;
  }
  setWindowText(created, control.text);
}

void FormWindow::addHint(const ControlForm& control) {
  if (*control.hint == '\0') return;
  std::wstring text = widen(control.hint);
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = hwnd();
  tool.uId = reinterpret_cast<UINT_PTR>(this->control(control.id));
  tool.lpszText = text.data();
  SendMessageW(tooltips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  // A disabled control gets no mouse messages; its window does, over the
  // control's rectangle (placed with the controls).
  tool.uFlags = TTF_SUBCLASS;
  tool.uId = static_cast<UINT_PTR>(control.id);
  SendMessageW(tooltips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void FormWindow::placeHints() {
  for (const ControlForm& control : form_.controls) {
    if (*control.hint == '\0') continue;
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = hwnd();
    tool.uId = static_cast<UINT_PTR>(control.id);
    GetWindowRect(this->control(control.id), &tool.rect);
    MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&tool.rect), 2);
    SendMessageW(tooltips_, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

std::string FormWindow::hint(int id) const {
  // Long enough for any hint of the windows.
  wchar_t text[256] = {};
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.hwnd = hwnd();
  tool.uId = reinterpret_cast<UINT_PTR>(control(id));
  tool.lpszText = text;
  SendMessageW(tooltips_, TTM_GETTEXTW, std::size(text), reinterpret_cast<LPARAM>(&tool));
  return narrow(text, wcslen(text));
}

HFONT FormWindow::font(const FontSpec& spec) {
  for (const auto& [cached, handle] : fonts_) {
    if (sameFont(cached, spec)) return handle;
  }
  LOGFONTW font{};
  font.lfHeight = -scaled(spec.pixelHeight, static_cast<int>(dpi_));
  font.lfWeight = spec.bold ? FW_BOLD : FW_NORMAL;
  font.lfCharSet = RUSSIAN_CHARSET;
  font.lfQuality = CLEARTYPE_QUALITY;
  font.lfPitchAndFamily = spec.fixedPitch ? FIXED_PITCH | FF_MODERN : DEFAULT_PITCH;
  lstrcpynW(font.lfFaceName, faceOf(spec).c_str(), LF_FACESIZE);
  HFONT handle = CreateFontIndirectW(&font);
  fonts_.emplace_back(spec, handle);
  return handle;
}

void FormWindow::sizeWindow() {
  const SIZE size = windowSizeFor(hwnd(), clientSize(form_, static_cast<int>(dpi_), extra_), dpi_);
  SetWindowPos(hwnd(), nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void FormWindow::setExtraSize(Size extra) {
  if (extra == extra_) return;
  extra_ = extra;
  sizeWindow();
  layOut();
}

void FormWindow::layOut() {
  // Sizes reported while the window is being made find no controls yet.
  if (!built_) return;
  const int dpi = static_cast<int>(dpi_);
  for (const ControlForm& control : form_.controls) {
    HWND window = this->control(control.id);
    HFONT controlFont = fontOf(control);
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(controlFont), FALSE);
    // A list that draws its rows takes no height from its font by itself.
    if (control.kind == ControlKind::ModelList) {
      SendMessageW(window, LB_SETITEMHEIGHT, 0, textExtent(window, controlFont, L"Ag").cy);
    }
    Rect rect = placeControl(control, dpi, extra_);
    if (control.kind == ControlKind::DropDownList) rect.height += scaled(DropDownListHeight, dpi);
    if (control.kind == ControlKind::SpinEdit) {
      const int arrows = scaled(SpinArrowsWidth, dpi);
      rect.width -= arrows;
      SetWindowPos(this->control(control.id + SpinArrowsId), nullptr, rect.right(), rect.top,
                   arrows, rect.height, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (control.sizedToText) {
      const SIZE extent = textExtent(window, controlFont, widen(windowText(window)));
      rect.width = extent.cx;
      rect.height = std::max<int>(rect.height, extent.cy);
    }
    SetWindowPos(window, nullptr, rect.left, rect.top, rect.width, rect.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(window, nullptr, TRUE);
  }
  for (const auto& [id, drawn] : custom_) drawn->setDpi(dpi_);
  placeHints();
  onLaidOut();
}

void FormWindow::show(HWND anchor) {
  if (!placed_) {
    centreOnMonitor(hwnd(), anchor);
    placed_ = true;
  }
  ShowWindow(hwnd(), SW_SHOW);
  SetForegroundWindow(hwnd());
}

void FormWindow::showBeside(HWND anchor) {
  if (!placed_) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoW(MonitorFromWindow(anchor, MONITOR_DEFAULTTOPRIMARY), &info);
    RECT beside{};
    RECT own{};
    GetWindowRect(anchor, &beside);
    GetWindowRect(hwnd(), &own);
    const Rect placed = placedBeside(
        {beside.left, beside.top, beside.right - beside.left, beside.bottom - beside.top},
        {own.right - own.left, own.bottom - own.top},
        {info.rcWork.left, info.rcWork.top, info.rcWork.right - info.rcWork.left,
         info.rcWork.bottom - info.rcWork.top});
    SetWindowPos(hwnd(), nullptr, placed.left, placed.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    placed_ = true;
  }
  show(anchor);
}

void FormWindow::runModal(HWND owner) {
  SetWindowLongPtrW(hwnd(), GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
  centreOnMonitor(hwnd(), owner);
  modal_ = true;
  ending_ = false;
  {
    const OtherWindowsDisabled others(hwnd());
    ShowWindow(hwnd(), SW_SHOW);
    SetForegroundWindow(hwnd());
    MSG message;
    while (!ending_) {
      const BOOL got = GetMessageW(&message, nullptr, 0, 0);
      if (got <= 0) {
        // The program is ending: the quit goes on to the main loop.
        if (got == 0) PostQuitMessage(static_cast<int>(message.wParam));
        break;
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  // The other windows take input again before this one goes, so that the
  // owner becomes the active window.
  ShowWindow(hwnd(), SW_HIDE);
  if (owner) SetActiveWindow(owner);
  modal_ = false;
}

void FormWindow::endModal() {
  ending_ = true;
  PostMessageW(hwnd(), WM_NULL, 0, 0);
}

void FormWindow::focus(int id) {
  if (IsWindowVisible(hwnd())) SetFocus(control(id));
}

void FormWindow::enable(int id, bool enabled) {
  EnableWindow(control(id), enabled);
  if (HWND arrows = control(id + SpinArrowsId)) EnableWindow(arrows, enabled);
}

void FormWindow::loadIcons() {
  std::vector<HICON> loaded;
  const int size = scaled(IconSize, static_cast<int>(dpi_));
  if (iconId_ != 0) {
    loaded.push_back(loadProgramIcon(iconId_, size));
    SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(loaded.back()));
  }
  std::vector<HIMAGELIST> images;
  for (const ControlForm& control : form_.controls) {
    if (control.icon == ButtonIcon::None) continue;
    HICON picture = loadProgramIcon(iconResource(control.icon), size);
    loaded.push_back(picture);
    // Windows greys a disabled button's icon by its mask, which leaves a
    // grey disc of a picture drawn in soft alpha: the button is given its
    // own grey picture for that state instead.
    HICON greyed = greyedIcon(picture);
    loaded.push_back(greyed);
    HIMAGELIST list = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, ButtonStates, 0);
    for (int state = 0; state < ButtonStates; ++state)
      ImageList_AddIcon(list, state == DisabledState && greyed ? greyed : picture);
    images.push_back(list);
    const bool iconOnly = *control.text == '\0';
    BUTTON_IMAGELIST assigned{
        list,
        {},
        static_cast<UINT>(iconOnly ? BUTTON_IMAGELIST_ALIGN_CENTER : BUTTON_IMAGELIST_ALIGN_LEFT)};
    SendMessageW(this->control(control.id), BCM_SETIMAGELIST, 0,
                 reinterpret_cast<LPARAM>(&assigned));
  }
  for (HICON icon : icons_) {
    if (icon) DestroyIcon(icon);
  }
  for (HIMAGELIST list : buttonImages_) ImageList_Destroy(list);
  icons_ = std::move(loaded);
  buttonImages_ = std::move(images);
}

void FormWindow::changeDpi(UINT dpi, const RECT& suggested) {
  const UINT old = dpi_;
  dpi_ = dpi;
  for (const auto& [spec, handle] : fonts_) DeleteObject(handle);
  fonts_.clear();
  loadIcons();
  if (form_.resizable) {
    // The suggested rectangle keeps the window's size on the new monitor.
    extra_ = {MulDiv(extra_.width, static_cast<int>(dpi), static_cast<int>(old)),
              MulDiv(extra_.height, static_cast<int>(dpi), static_cast<int>(old))};
    SetWindowPos(hwnd(), nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  } else {
    SetWindowPos(hwnd(), nullptr, suggested.left, suggested.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    sizeWindow();
  }
  layOut();
}

void FormWindow::drawLabel(const DRAWITEMSTRUCT& item) {
  const ControlForm& control = form_.control(static_cast<int>(item.CtlID));
  const FontSpec& spec = control.font ? *control.font : form_.font;
  const FontSpec small{spec.family, subscriptHeight(spec.pixelHeight), spec.bold};
  HDC dc = item.hDC;
  FillRect(dc, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(IsWindowEnabled(item.hwndItem) ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
  const int dpi = static_cast<int>(dpi_);
  int x = item.rcItem.left;
  for (const TextRun& run : textRuns(windowText(item.hwndItem))) {
    HGDIOBJ old = SelectObject(dc, font(run.subscript ? small : spec));
    const std::wstring text = widen(run.text);
    const int top =
        item.rcItem.top + (run.subscript ? scaled(subscriptDrop(spec.pixelHeight), dpi) : 0);
    TextOutW(dc, x, top, text.c_str(), static_cast<int>(text.size()));
    SIZE extent{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    x += extent.cx;
    SelectObject(dc, old);
  }
}

void FormWindow::drawListRow(const DRAWITEMSTRUCT& item) {
  HDC dc = item.hDC;
  RECT area = item.rcItem;
  // An empty list draws only its focus.
  if (item.itemID != static_cast<UINT>(-1)) {
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    FillRect(dc, &area, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    HGDIOBJ old = SelectObject(dc, fontOf(form_.control(static_cast<int>(item.CtlID))));
    const std::wstring text =
        widen(listRow(static_cast<int>(item.CtlID), static_cast<int>(item.itemID)));
    RECT textArea = area;
    textArea.left += scaled(ListRowIndent, static_cast<int>(dpi_));
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &textArea,
              DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
  }
  if ((item.itemState & ODS_FOCUS) != 0) DrawFocusRect(dc, &area);
}

LRESULT CALLBACK FormWindow::editProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR, DWORD_PTR window) {
  if (message == WM_CHAR && wParam >= L' ' &&
      !reinterpret_cast<FormWindow*>(window)->acceptsChar(GetDlgCtrlID(edit),
                                                          static_cast<wchar_t>(wParam))) {
    return 0;
  }
  return DefSubclassProc(edit, message, wParam, lParam);
}

LRESULT FormWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id == IDCANCEL) {
        onCancel();
      } else if (id != IDOK) {
        onCommand(id, HIWORD(wParam));
      }
      return 0;
    }
    case DM_GETDEFID:
      for (const ControlForm& control : form_.controls) {
        if (control.defaultButton) return MAKELRESULT(control.id, DC_HASDEFID);
      }
      return 0;
    case WM_TIMER:
      onTimer(wParam);
      return 0;
    case WM_CLOSE:
      onClose();
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        const HWND focus = GetFocus();
        if (IsChild(hwnd(), focus)) lastFocus_ = focus;
        onActivated(false);
        return 0;
      }
      // Back to the control that had the focus, as a dialog does.
      if (lastFocus_ && IsChild(hwnd(), lastFocus_) && IsWindowEnabled(lastFocus_)) {
        SetFocus(lastFocus_);
      } else {
        SetFocus(GetNextDlgTabItem(hwnd(), nullptr, FALSE));
      }
      onActivated(true);
      return 0;
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item.CtlType == ODT_LISTBOX) {
        drawListRow(item);
      } else {
        drawLabel(item);
      }
      return TRUE;
    }
    case WM_DPICHANGED:
      changeDpi(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_SIZE:
      if (form_.resizable && wParam != SIZE_MINIMIZED) {
        extra_ = extraSize(form_, static_cast<int>(dpi_), {LOWORD(lParam), HIWORD(lParam)});
        layOut();
      }
      return 0;
    case WM_GETMINMAXINFO:
      if (form_.resizable) {
        const SIZE smallest =
            windowSizeFor(hwnd(), clientSize(form_, static_cast<int>(dpi_)), dpi_);
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {smallest.cx, smallest.cy};
      }
      return 0;
    case WM_DESTROY:
      leaveKeyboard(hwnd());
      return 0;
    default:
      return Window::handle(message, wParam, lParam);
  }
}

}  // namespace loopmon::win32
