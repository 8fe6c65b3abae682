#pragma once
// Driving the Win32 windows from a test as a user would, with window
// messages: clicks, keys and mouse moves, bounded waits that keep the
// messages flowing, modal windows driven from inside their own loops, the
// message boxes taken instead of shown, and the demo bus in process.

#include "platform/system/windows_api_win32.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "gui/win32/main_window.h"
#include "gui/win32/message_box.h"
#include "gui/win32/search_dialog.h"
#include "gui/win32/window.h"
#include "sim/device_model.h"
#include "sim/scenario.h"

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

// A key pressed on `control` through the thread's queue, as the keyboard's
// keys arrive: the windows' keyboard handling sees it first.
inline void press(HWND control, UINT key) {
  PostMessageW(control, WM_KEYDOWN, key, 1);
  PostMessageW(control, WM_KEYUP, key, 0xC0000001);
  pumpFor(50);
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

// The lines of a list box or a drop-down list.
inline std::vector<std::string> lines(HWND list, bool dropDown = false) {
  std::vector<std::string> texts;
  const UINT count = dropDown ? CB_GETCOUNT : LB_GETCOUNT;
  const UINT length = dropDown ? CB_GETLBTEXTLEN : LB_GETTEXTLEN;
  const UINT text = dropDown ? CB_GETLBTEXT : LB_GETTEXT;
  const auto n = static_cast<int>(SendMessageW(list, count, 0, 0));
  for (int i = 0; i < n; ++i) {
    std::wstring line(static_cast<size_t>(SendMessageW(list, length, i, 0)) + 1, L'\0');
    SendMessageW(list, text, i, reinterpret_cast<LPARAM>(line.data()));
    texts.push_back(narrow(line.c_str(), wcslen(line.c_str())));
  }
  return texts;
}

// The lines a model list draws: one per row it has, as its window gives them.
inline std::vector<std::string> drawnLines(const win32::FormWindow& window, int id) {
  std::vector<std::string> texts;
  const auto rows = static_cast<int>(SendMessageW(window.control(id), LB_GETCOUNT, 0, 0));
  for (int row = 0; row < rows; ++row) texts.push_back(window.listRow(id, row));
  return texts;
}

// The width of `text` in the font `control` draws with.
inline int textWidth(HWND control, const std::string& text) {
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
  const std::wstring wide = widen(text);
  SIZE extent{};
  GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &extent);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return extent.cx;
}

inline RECT placedRect(HWND control) {
  RECT rect{};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// Every control of the window where its form puts it at the window's DPI,
// with its text whole and its hint.
inline void expectPlacedAsDesigned(const FormWindow& window) {
  const int dpi = static_cast<int>(window.dpi());
  RECT client{};
  GetClientRect(window.hwnd(), &client);
  const Size extra = extraSize(window.form(), dpi, {client.right, client.bottom});
  const Size expected = clientSize(window.form(), dpi, extra);
  EXPECT_EQ(client.right, expected.width);
  EXPECT_EQ(client.bottom, expected.height);
  for (const ControlForm& control : window.form().controls) {
    SCOPED_TRACE(std::string(window.form().name) + "." + control.name + " at " +
                 std::to_string(dpi));
    HWND placed = window.control(control.id);
    const Rect designed = placeControl(control, dpi, extra);
    RECT rect = placedRect(placed);
    if (control.kind == ControlKind::SpinEdit) {
      const RECT arrows = placedRect(GetWindow(placed, GW_HWNDNEXT));
      UnionRect(&rect, &rect, &arrows);
    }
    EXPECT_EQ(rect.left, designed.left);
    EXPECT_EQ(rect.top, designed.top);
    if (!control.sizedToText) {
      EXPECT_EQ(rect.right, designed.right());
      if (control.kind != ControlKind::DropDownList) {
        EXPECT_EQ(rect.bottom, designed.bottom());
      }
    }
    EXPECT_EQ(window.hint(control.id), control.hint);
    const std::string text = plainText(windowText(placed));
    if (text.empty() || control.kind == ControlKind::SpinEdit) continue;
    // The text whole: within the control, a button's inner margins and image aside.
    const int margins = control.kind == ControlKind::PushButton
                            ? scaled(control.icon != ButtonIcon::None ? 26 : 8, dpi)
                            : 0;
    EXPECT_LE(textWidth(placed, text) + margins, rect.right - rect.left) << text;
  }
}

// Tab from the first enabled stop visits every enabled stop in the form's order.
inline void expectTabOrder(const FormWindow& window) {
  std::vector<const ControlForm*> stops;
  for (const ControlForm& control : window.form().controls) {
    if (control.tabOrder > 0 && enabled(window.control(control.id))) stops.push_back(&control);
  }
  std::ranges::sort(stops, {}, &ControlForm::tabOrder);
  ASSERT_FALSE(stops.empty());
  HWND at = window.control(stops.front()->id);
  for (size_t n = 1; n <= stops.size(); ++n) {
    at = GetNextDlgTabItem(window.hwnd(), at, FALSE);
    EXPECT_EQ(at, window.control(stops[n % stops.size()]->id)) << stops[n % stops.size()]->name;
  }
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

// Opens the search dialog with the main window's search button; `inside`
// runs in the dialog's own loop, which is closed afterwards if still open.
inline void search(MainWindow& window, const std::function<void(SearchDialog&)>& inside) {
  SearchDialog& dialog = window.searchDialog();
  runSoon([&] {
    inside(dialog);
    if (dialog.shown()) SendMessageW(dialog.hwnd(), WM_CLOSE, 0, 0);
  });
  click(window.control(main_form::SearchButton));
}

// What `control` paints, drawn into a bitmap and read back by `read(dc, client)`.
template <class Read>
auto readPainting(HWND control, Read read) {
  RECT client{};
  GetClientRect(control, &client);
  HDC screen = GetDC(control);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
  HGDIOBJ old = SelectObject(dc, bitmap);
  SendMessageW(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  auto result = read(dc, client);
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(control, screen);
  return result;
}

// Takes every message box while it lives, as "caption: text".
struct BoxCapture {
  BoxCapture() {
    setMessageBoxHook([this](const std::string& text, const std::string& caption, UINT) {
      boxes.push_back(caption + ": " + text);
      if (whileShown) whileShown();
    });
  }
  ~BoxCapture() { setMessageBoxHook({}); }
  std::vector<std::string> boxes;
  // Runs while a box is up.
  std::function<void()> whileShown;
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

// loopsim's demo bus behind the fake line of a fake platform (type 1 at 5,
// type 2 at 12, type 4 at 20, type 11 at 63, type 9 at 127), answering
// without delay on the windows' bus thread.
struct DemoBus {
  DemoBus() {
    fake.line->setResponder([this](const Bytes& request) { return bus.respond(request); });
  }
  loopmon::testing::FakePlatform fake;
  sim::SimulatedBus bus{sim::demoScenario()};
};

}  // namespace loopmon::win32::testing
