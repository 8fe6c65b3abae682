#pragma once
// The main window: a thin Win32 view over MainWindowModel. It owns the
// session, the windows' bus thread and the search dialog, creates the
// controls, hands every input to the model and shows what the model says.

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "loops/coeffs.h"
#include "loops/main_window_model.h"
#include "platform/platform.h"
#include "platform/text_win32.h"

namespace loopmon {
class BusThread;
class TRSSession;
}  // namespace loopmon

namespace loopmon::win32 {

class HistoryWindow;
class LoopTable;
class SearchDialog;
class TogglePanel;
class WindowThreadDispatcher;

class MainWindow : private MainWindowView {
 public:
  // Control identifiers, for the window's own messages and for tests.
  enum Control : int {
    SearchButtonId = 201,
    DeviceLabelId,
    LoopTableId,
    ReadButtonId,
    AdcViewToggleId,
    StateViewToggleId,
    ToolsButtonId,
    PeriodicButtonId,
    PeriodFieldId,
    PeriodSpinId,
  };

  // Where the window keeps its files; both beside the program by default.
  struct Files {
    std::string coefficients;
    std::string portSettings;
    static Files besideProgram();
  };

  // Must be made on the thread that runs the window's messages. Throws when
  // the session cannot be set up (a line setting of the wrong type).
  explicit MainWindow(Platform platform = Platform::system(), Files files = Files::besideProgram());
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  void show();
  // What the tools button opens (the password dialog, modal over `owner`).
  void setToolsAction(std::function<void(HWND owner)> action) { toolsAction_ = std::move(action); }
  // Runs when the user closes the window; the program ends its message loop there.
  void setClosedAction(std::function<void()> action) { closedAction_ = std::move(action); }
  // Keyboard navigation between the controls; true when `message` was taken.
  bool translateDialogMessage(MSG& message);

  HWND window() const { return window_; }
  HWND control(Control id) const { return GetDlgItem(window_, id); }
  // The hint a control shows, "" for none.
  std::string hint(Control id) const;
  const LoopTable& loopTable() const { return *loopTable_; }
  const TogglePanel& adcViewToggle() const { return *adcViewToggle_; }
  const TogglePanel& stateViewToggle() const { return *stateViewToggle_; }
  const MainWindowModel& model() const { return *model_; }
  TRSSession& session() { return *session_; }
  SearchDialog& searchDialog() { return *searchDialog_; }
  CoefficientsStore& coefficientsStore() { return store_; }
  SelectedDevice device() const { return model_->device(); }

 private:
  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK periodFieldProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                          UINT_PTR id, DWORD_PTR self);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  void createWindow();
  void createControls();
  void addHints();
  void layOut();
  void sizeDeviceLabel();
  void updateDpi(UINT dpi);
  void onCommand(int id, int code);
  void onPeriodEdited();
  void showLoopMenu(int row, POINT screenPoint);
  template <class Input>
  void forward(Input input);

  // MainWindowView.
  void showCaption(const std::string& caption) override;
  void showDeviceLabel(const std::string& text) override;
  void showReadControls(bool readEnabled, bool periodicEnabled, bool periodEnabled) override;
  void showPeriodicDown(bool down) override;
  void showPeriod(int seconds) override;
  void showView(bool adcView) override;
  void showRowCount(int rows, bool scrollBar) override;
  void showCell(int column, int row, const std::string& text) override;
  void showMark(int row, bool marked) override;
  void showMoved(int row, bool moved) override;
  void showHistory(LoopKey key) override;
  void startTimer(int delayMs) override;
  void stopTimer() override;
  void showMessage(const std::string& text) override;
  uint8_t runSearchDialog() override;
  void showPasswordDialog() override;

  std::shared_ptr<WindowThreadDispatcher> dispatcher_;
  std::unique_ptr<TRSSession> session_;
  std::unique_ptr<BusThread> bus_;
  CoefficientsStore store_;
  std::unique_ptr<SearchDialog> searchDialog_;

  HWND window_ = nullptr;
  HWND tooltips_ = nullptr;
  HFONT font_ = nullptr;
  UINT dpi_ = 96;
  std::unique_ptr<LoopTable> loopTable_;
  std::unique_ptr<TogglePanel> adcViewToggle_;
  std::unique_ptr<TogglePanel> stateViewToggle_;
  // Icons of the buttons and the window at the current DPI (null without resources).
  struct Icons {
    HICON app = nullptr;
    HICON search = nullptr;
    HICON read = nullptr;
    HICON tools = nullptr;
    HICON periodic = nullptr;
  } icons_;
  // Set while the program writes the period field, so the write is no user's edit.
  bool writingPeriod_ = false;
  std::function<void(HWND)> toolsAction_;
  std::function<void()> closedAction_;

  std::unique_ptr<MainWindowModel> model_;
  // One window per loop, kept after it is closed so that it opens again
  // where it was; they show the model's history and go before it.
  std::map<LoopKey, std::unique_ptr<HistoryWindow>> historyWindows_;
};

}  // namespace loopmon::win32
