// loopmon.exe: the desktop program.

#include "platform/system/windows_api_win32.h"

#include <commctrl.h>

#include <exception>
#include <memory>

#include "gui/win32/calibration_dialog.h"
#include "gui/win32/main_window.h"
#include "gui/win32/message_box.h"
#include "gui/win32/password_dialog.h"

namespace {

// Crisp windows scaled to each monitor's DPI, also where no manifest says so.
void becomePerMonitorDpiAware() {
  using SetContext = BOOL(WINAPI*)(HANDLE);
  if (auto setContext =
          loopmon::win32::procAddress<SetContext>(L"user32.dll", "SetProcessDpiAwarenessContext")) {
    setContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  becomePerMonitorDpiAware();
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);

  std::unique_ptr<loopmon::win32::MainWindow> mainWindow;
  try {
    mainWindow = std::make_unique<loopmon::win32::MainWindow>();
  } catch (const std::exception& error) {
    // A line setting the session cannot work with: say which, and end.
    loopmon::win32::showError(nullptr, error);
    return 1;
  }
  loopmon::win32::CalibrationDialog calibrationDialog(
      mainWindow->hwnd(), [&] { return mainWindow->device(); }, mainWindow->coefficientsStore());
  loopmon::win32::PasswordDialog passwordDialog(mainWindow->hwnd(), calibrationDialog);
  mainWindow->setToolsAction([&](HWND owner) { passwordDialog.run(owner); });
  // Closing the main window ends the program, also while another window is open.
  mainWindow->setClosedAction([] { PostQuitMessage(0); });
  mainWindow->show();

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}
