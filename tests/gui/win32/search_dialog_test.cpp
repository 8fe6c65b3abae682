// The search dialog without a bus: every way of closing it, and the port
// selector wide enough to show its longest port whole.

#include "gui/win32/search_dialog.h"

#include "platform/store/profile_file.h"
#include "window_driver.h"

namespace loopmon::win32 {
namespace {

using namespace loopmon::win32::testing;
using namespace search_form;

class SearchDialogTest : public ::testing::Test {
 protected:
  std::string settings() const { return folder_.file("pcom.ini"); }
  // Shows the dialog; `inside` runs in its loop and closes it, or leaves it
  // to the cancel button.
  uint8_t run(SearchDialog& dialog, const std::function<void()>& inside) {
    runSoon([&] {
      inside();
      if (dialog.shown()) click(dialog.control(CancelButton));
    });
    return dialog.run(nullptr);
  }
  int portIndex(const SearchDialog& dialog) {
    return static_cast<int>(SendMessageW(dialog.control(PortSelector), CB_GETCURSEL, 0, 0));
  }

  TempFolder folder_;
};

TEST_F(SearchDialogTest, EveryWayOfClosingReturnsZeroAndRemembersThePort) {
  SearchDialog dialog(nullptr, nullptr, settings());
  const struct {
    const char* way;
    std::function<void()> close;
  } closings[] = {
      {"cancel button", [&] { click(dialog.control(CancelButton)); }},
      {"Esc in the list", [&] { press(dialog.control(DeviceList), VK_ESCAPE); }},
      {"close box", [&] { SendMessageW(dialog.hwnd(), WM_CLOSE, 0, 0); }},
  };
  // The quick search's option: off at first, then chosen and remembered,
  // then put off again.
  const int quickKept[] = {1, 0, 0};
  int n = 0;
  for (const auto& closing : closings) {
    SCOPED_TRACE(closing.way);
    ProfileFile(settings()).writeString("Port", "Num", "3");
    bool stayedOpen = false;
    const uint8_t chosen = run(dialog, [&] {
      EXPECT_EQ(portIndex(dialog), 3) << "COM4 remembered";
      // Enter in the empty list chooses nothing and the dialog stays.
      press(dialog.control(DeviceList), VK_RETURN);
      stayedOpen = dialog.shown() && IsWindowVisible(dialog.hwnd());
      SendMessageW(dialog.control(PortSelector), CB_SETCURSEL, 1, 0);
      const LRESULT quick = SendMessageW(dialog.control(QuickOption), BM_GETCHECK, 0, 0);
      EXPECT_EQ(quick, n == 1 ? BST_CHECKED : BST_UNCHECKED);
      if (n < 2) click(dialog.control(QuickOption));
      closing.close();
    });
    EXPECT_EQ(ProfileFile(settings()).readInt("Search", "Quick", -1), quickKept[n++]);
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(chosen, 0);
    EXPECT_FALSE(IsWindowVisible(dialog.hwnd()));
    EXPECT_EQ(ProfileFile(settings()).readInt("Port", "Num", -1), 1);
  }
}

// The closed selector shows the device behind its longest port, the dialog
// growing by what the selector lacks; with the four ports alone it keeps its
// designed size.
TEST_F(SearchDialogTest, ThePortSelectorShowsItsLongestPortWhole) {
  std::vector<PortChoiceItem> four = {
      {"COM1", "COM1"}, {"COM2", "COM2"}, {"COM3", "COM3"}, {"COM4", "COM4"}};
  std::vector<PortChoiceItem> ports = four;
  ports.push_back({"COM7", "COM7 — USB Serial Port (COM7) behind a long name"});
  for (const auto* offered : {&ports, &four}) {
    SearchDialog dialog(nullptr, nullptr, settings(), [&] { return *offered; });
    run(dialog, [&] {
      HWND selector = dialog.control(PortSelector);
      EXPECT_EQ(lines(selector, true).back(), offered->back().text);
      RECT field{};
      GetClientRect(selector, &field);
      EXPECT_GE(field.right,
                textWidth(selector, offered->back().text) + GetSystemMetrics(SM_CXVSCROLL));
      RECT client{};
      GetClientRect(dialog.hwnd(), &client);
      EXPECT_EQ(client.right - 318, placedRect(selector).right - placedRect(selector).left - 105);
      EXPECT_EQ(client.right == 318, offered == &four);
      expectPlacedAsDesigned(dialog);
    });
  }
}

}  // namespace
}  // namespace loopmon::win32
