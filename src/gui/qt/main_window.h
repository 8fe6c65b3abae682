#pragma once
// The main window: a thin Qt view over MainWindowModel, built from the main
// window's form on the desktop core (session, bus thread, stores). It hands
// every input to the model and shows what the model says.

#include <QPointer>
#include <QWidget>
#include <map>
#include <memory>
#include <string>

#include "desktop/desktop.h"
#include "desktop/main_window_model.h"

class QAction;
class QMenu;
class QTimer;

namespace loopmon::qt {

class FormWidgets;
class HistoryWindow;
class LoopTable;
class PasswordDialog;
class SearchDialog;
class SurveyWindow;
class TrafficWindow;

class MainWindow : public QWidget, private MainWindowView {
  Q_OBJECT
 public:
  // Throws when the session cannot be set up (a line setting of the wrong type).
  explicit MainWindow(Platform platform = Platform::system(),
                      Desktop::Files files = Desktop::Files::besideProgram());
  ~MainWindow() override;

  // The password dialog that the tools button opens; created after this window.
  void setPasswordDialog(PasswordDialog* dialog) { passwordDialog_ = dialog; }

  const MainWindowModel& model() const { return *model_; }
  TRSSession& session() { return desktop_->session(); }
  SearchDialog& searchDialog() { return *searchDialog_; }
  CoefficientsStore& coefficientsStore() { return desktop_->store(); }
  SelectedDevice device() const { return model_->device(); }
  // The survey window, opened from the loop table's menu; null before that.
  SurveyWindow* surveyWindow() const { return surveyWindow_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void connectControls();
  void showLoopMenu(QPoint point, QPoint globalPoint);
  void showTraffic();
  void showSurvey();
  LoopTable* table() const;

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

  std::unique_ptr<Desktop> desktop_;
  FormWidgets* form_ = nullptr;
  std::unique_ptr<SearchDialog> searchDialog_;
  QTimer* tickTimer_ = nullptr;
  PasswordDialog* passwordDialog_ = nullptr;
  // The loop table's context menu and the row it was opened on.
  QMenu* loopMenu_ = nullptr;
  QAction* historyAction_ = nullptr;
  QAction* trafficAction_ = nullptr;
  QAction* surveyAction_ = nullptr;
  int menuRow_ = -1;
  // One history window per loop; each closes by itself.
  std::map<LoopKey, QPointer<HistoryWindow>> historyWindows_;
  // The traffic window while open; it closes by itself.
  QPointer<TrafficWindow> trafficWindow_;
  // Made at its first opening and kept, hidden when closed: its follow-ups
  // reach it until the bus thread has ended.
  SurveyWindow* surveyWindow_ = nullptr;
  std::unique_ptr<MainWindowModel> model_;
};

}  // namespace loopmon::qt
