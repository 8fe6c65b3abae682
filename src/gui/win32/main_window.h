#pragma once
// The main window: a thin Win32 view over MainWindowModel, built from the main
// window's form on the desktop core (session, bus thread, stores). It hands
// every input to the model and shows what the model says.

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "desktop/desktop.h"
#include "desktop/main_form.h"
#include "desktop/main_window_model.h"
#include "gui/win32/window.h"

namespace loopmon::win32 {

class HistoryWindow;
class LoopTable;
class SearchDialog;
class SurveyWindow;
class TogglePanel;
class TrafficWindow;
class WindowThreadDispatcher;

class MainWindow : public FormWindow, private MainWindowView {
 public:
  // Must be made on the thread that runs the window's messages. Throws when
  // the session cannot be set up (a line setting of the wrong type).
  explicit MainWindow(Platform platform = Platform::system(),
                      Desktop::Files files = Desktop::Files::besideProgram());
  ~MainWindow() override;

  // What the tools button opens (the password dialog, modal over `owner`).
  void setToolsAction(std::function<void(HWND owner)> action) { toolsAction_ = std::move(action); }
  // Runs when the user closes the window; the program ends its message loop there.
  void setClosedAction(std::function<void()> action) { closedAction_ = std::move(action); }

  const LoopTable& loopTable() const;
  const TogglePanel& toggle(main_form::Control id) const;
  const MainWindowModel& model() const { return *model_; }
  TRSSession& session() { return desktop_->session(); }
  SearchDialog& searchDialog() { return *searchDialog_; }
  CoefficientsStore& coefficientsStore() { return desktop_->store(); }
  SelectedDevice device() const { return model_->device(); }
  // The loop's history window once it has been opened, else null.
  HistoryWindow* historyWindow(LoopKey key) const;
  // The traffic window, opened from the loop table's menu.
  TrafficWindow& trafficWindow();
  // The survey window, opened from the loop table's menu.
  SurveyWindow& surveyWindow();

 protected:
  void onCommand(int id, int code) override;
  void onTimer(UINT_PTR id) override;
  void onClose() override;
  bool acceptsChar(int id, wchar_t character) override;

 private:
  template <class Input>
  void forward(Input input);
  void onPeriodEdited();
  void showLoopMenu(int row, POINT screenPoint);

  // MainWindowView.
  void showCaption(const std::string& caption) override;
  void showDeviceLabel(const std::string& text) override;
  void showReadControls(bool readEnabled, bool periodicEnabled, bool periodEnabled) override;
  void showPeriodicDown(bool down) override;
  void showPeriod(int seconds) override;
  void showView(bool adcView) override;
  void showGrid() override;
  void showGridCell(int column, int row) override;
  void showHistory(LoopKey key) override;
  void startTimer(int delayMs) override;
  void stopTimer() override;
  void showMessage(const std::string& text) override;
  uint8_t runSearchDialog() override;
  void showPasswordDialog() override;

  LoopTable& table();

  std::shared_ptr<WindowThreadDispatcher> dispatcher_;
  std::unique_ptr<Desktop> desktop_;
  std::unique_ptr<SearchDialog> searchDialog_;
  // Set while the program writes the period field, so the write is no user's edit.
  bool writingPeriod_ = false;
  std::function<void(HWND)> toolsAction_;
  std::function<void()> closedAction_;
  std::unique_ptr<MainWindowModel> model_;
  // One window per loop, kept after it is closed so that it opens again where
  // it was; they show the model's history and go before it.
  std::map<LoopKey, std::unique_ptr<HistoryWindow>> historyWindows_;
  // Made at its first opening and kept like the history windows; it reads the session's trace.
  std::unique_ptr<TrafficWindow> trafficWindow_;
  // Made at its first opening and kept; its follow-ups reach it until the bus thread has ended.
  std::unique_ptr<SurveyWindow> surveyWindow_;
};

}  // namespace loopmon::win32
