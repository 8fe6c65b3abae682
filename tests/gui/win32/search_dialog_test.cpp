// The search dialog without a bus: its controls as designed, the port
// remembered in pcom.ini, the port list with the devices behind the ports,
// and every way of closing it.

#include "gui/win32/search_dialog.h"

#include "platform/profile_file.h"
#include "window_driver.h"

namespace loopmon::win32 {
namespace {

using namespace loopmon::win32::testing;

RECT clientRectOf(HWND control) {
  RECT rect{};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

std::vector<std::string> portItems(const SearchDialog& dialog) {
  HWND selector = dialog.control(SearchDialog::PortSelectorId);
  std::vector<std::string> items;
  const auto count = static_cast<int>(SendMessageW(selector, CB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    std::wstring text(static_cast<size_t>(SendMessageW(selector, CB_GETLBTEXTLEN, i, 0)), L'\0');
    SendMessageW(selector, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()));
    items.push_back(narrow(text));
  }
  return items;
}

int portIndex(const SearchDialog& dialog) {
  return static_cast<int>(
      SendMessageW(dialog.control(SearchDialog::PortSelectorId), CB_GETCURSEL, 0, 0));
}

class SearchDialogTest : public ::testing::Test {
 protected:
  std::string settings() const { return folder_.file("pcom.ini"); }
  void remember(const char* num) { ProfileFile(settings()).writeString("Port", "Num", num); }

  // Shows the dialog; `inside` runs in its loop and closes it, or leaves it
  // to the cancel button.
  uint8_t run(SearchDialog& dialog, const std::function<void()>& inside) {
    runSoon([&] {
      inside();
      if (dialog.shown()) click(dialog.control(SearchDialog::CancelButtonId));
    });
    return dialog.run(nullptr);
  }

  TempFolder folder_;
};

TEST_F(SearchDialogTest, ControlsAsDesigned) {
  SearchDialog dialog(nullptr, settings());
  run(dialog, [&] {
    RECT client{};
    GetClientRect(dialog.window(), &client);
    EXPECT_EQ(client.right, 318);
    EXPECT_EQ(client.bottom, 279);
    EXPECT_EQ(windowText(dialog.window()), "Поиск приборов");
    EXPECT_TRUE(GetWindowLongW(dialog.window(), GWL_EXSTYLE) & WS_EX_TOPMOST);
    const struct {
      SearchDialog::Control id;
      const char* text;
      RECT rect;
      bool enabled;
    } controls[] = {
        {SearchDialog::ChooseButtonId, "Выбрать", {23, 243, 113, 273}, false},
        {SearchDialog::SearchButtonId, "Поиск", {113, 243, 203, 273}, true},
        {SearchDialog::CancelButtonId, "Отмена", {203, 243, 293, 273}, true},
        {SearchDialog::DeviceListId, "", {8, 40, 305, 209}, true},
        {SearchDialog::ProgressBarId, "", {9, 216, 306, 233}, true},
    };
    for (const auto& c : controls) {
      SCOPED_TRACE(c.id);
      HWND control = dialog.control(c.id);
      EXPECT_EQ(windowText(control), c.text);
      EXPECT_EQ(enabled(control), c.enabled);
      const RECT rect = clientRectOf(control);
      EXPECT_TRUE(EqualRect(&rect, &c.rect))
          << rect.left << "," << rect.top << "," << rect.right << "," << rect.bottom;
    }
    const RECT selector = clientRectOf(dialog.control(SearchDialog::PortSelectorId));
    EXPECT_EQ(selector.left, 200);
    EXPECT_EQ(selector.top, 6);
    EXPECT_EQ(selector.right, 305);
    HWND label = dialog.control(SearchDialog::PortLabelId);
    EXPECT_EQ(windowText(label), "Последовательный порт");
    EXPECT_LE(clientRectOf(label).right, selector.left) << "the label is not cut by the selector";

    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_EQ(narrow(font.lfFaceName, wcslen(font.lfFaceName)), "Arial");
    EXPECT_EQ(font.lfHeight, -12);
    EXPECT_EQ(font.lfWeight, FW_BOLD);
    EXPECT_EQ(font.lfCharSet, RUSSIAN_CHARSET);

    HWND progress = dialog.control(SearchDialog::ProgressBarId);
    EXPECT_EQ(SendMessageW(progress, PBM_GETRANGE, FALSE, 0), 127);
    EXPECT_EQ(SendMessageW(progress, PBM_GETPOS, 0, 0), 0);
    // Tab order: search, cancel, port, list (choose is disabled).
    HWND at = dialog.control(SearchDialog::SearchButtonId);
    for (auto next : {SearchDialog::CancelButtonId, SearchDialog::PortSelectorId,
                      SearchDialog::DeviceListId, SearchDialog::SearchButtonId}) {
      at = GetNextDlgTabItem(dialog.window(), at, FALSE);
      EXPECT_EQ(at, dialog.control(next)) << next;
    }
  });
}

TEST_F(SearchDialogTest, EveryWayOfClosingReturnsZeroAndRemembersThePort) {
  SearchDialog dialog(nullptr, settings());
  const struct {
    const char* way;
    std::function<void()> close;
  } closings[] = {
      {"cancel button", [&] { click(dialog.control(SearchDialog::CancelButtonId)); }},
      // As the dialog's own loop passes a key from the keyboard on.
      {"Esc in the list",
       [&] {
         MSG key{dialog.control(SearchDialog::DeviceListId), WM_KEYDOWN, VK_ESCAPE, 1, 0, {}};
         IsDialogMessageW(dialog.window(), &key);
       }},
      {"close box", [&] { SendMessageW(dialog.window(), WM_CLOSE, 0, 0); }},
  };
  for (const auto& closing : closings) {
    SCOPED_TRACE(closing.way);
    remember("3");
    bool stayedOpen = false;
    const uint8_t chosen = run(dialog, [&] {
      EXPECT_EQ(portIndex(dialog), 3) << "COM4 remembered";
      // Enter in the empty list chooses nothing and the dialog stays.
      SendMessageW(dialog.control(SearchDialog::DeviceListId), WM_KEYDOWN, VK_RETURN, 1);
      stayedOpen = dialog.shown() && IsWindowVisible(dialog.window());
      SendMessageW(dialog.control(SearchDialog::PortSelectorId), CB_SETCURSEL, 1, 0);
      closing.close();
    });
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(chosen, 0);
    EXPECT_FALSE(IsWindowVisible(dialog.window()));
    EXPECT_EQ(ProfileFile(settings()).readInt("Port", "Num", -1), 1);
  }
}

TEST_F(SearchDialogTest, AnUnknownRememberedPortIsNoPortAndClosesAsComOne) {
  SearchDialog dialog(nullptr, settings());
  remember("9");
  run(dialog, [&] {
    EXPECT_EQ(portIndex(dialog), -1);
    EXPECT_EQ(windowText(dialog.control(SearchDialog::PortSelectorId)), "");
  });
  EXPECT_EQ(ProfileFile(settings()).readInt("Port", "Num", -1), 0);
}

TEST_F(SearchDialogTest, ThePortListNamesTheDevicesAndOpensWideEnough) {
  const std::vector<PortChoiceItem> ports = {{"COM1", "COM1"},
                                             {"COM2", "COM2"},
                                             {"COM3", "COM3 — FT232R USB UART"},
                                             {"COM4", "COM4"},
                                             {"COM7", "COM7 — USB Serial Port"}};
  SearchDialog dialog(nullptr, settings(), [&] { return ports; });
  remember("2");
  run(dialog, [&] {
    std::vector<std::string> expected;
    for (const auto& port : ports) expected.push_back(port.text);
    EXPECT_EQ(portItems(dialog), expected);
    EXPECT_EQ(portIndex(dialog), 2);

    HWND selector = dialog.control(SearchDialog::PortSelectorId);
    HDC dc = GetDC(selector);
    HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(selector, WM_GETFONT, 0, 0)));
    const std::wstring longest = widen(ports.back().text);
    SIZE extent{};
    GetTextExtentPoint32W(dc, longest.c_str(), static_cast<int>(longest.size()), &extent);
    SelectObject(dc, old);
    ReleaseDC(selector, dc);
    EXPECT_GT(SendMessageW(selector, CB_GETDROPPEDWIDTH, 0, 0), extent.cx);
  });
}

}  // namespace
}  // namespace loopmon::win32
