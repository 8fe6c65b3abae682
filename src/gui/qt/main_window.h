#pragma once
// The main window: a thin Qt view over MainWindowModel. It owns the session,
// the windows' bus thread and the search dialog, creates the controls, hands
// every input to the model and shows what the model says.

#include <QPointer>
#include <QWidget>
#include <map>
#include <memory>
#include <string>

#include "loops/coeffs.h"
#include "loops/main_window_model.h"
#include "platform/platform.h"

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;
class QToolButton;

namespace loopmon {

class BusThread;
class FilteredSpinEdit;
class HistoryWindow;
class LoopGrid;
class PasswordDialog;
class SearchDialog;
class TRSSession;
class TogglePanel;

class MainWindow : public QWidget, private MainWindowView {
  Q_OBJECT
 public:
  // Where the window keeps its files; both beside the program by default.
  struct Files {
    std::string coefficients;
    std::string portSettings;
    static Files besideProgram();
  };

  // Throws when the session cannot be set up (a line setting of the wrong type).
  explicit MainWindow(Platform platform = Platform::system(), Files files = Files::besideProgram());
  ~MainWindow() override;

  // The password dialog that the tools button opens; created after this window.
  void setPasswordDialog(PasswordDialog* dialog) { passwordDialog_ = dialog; }

  const MainWindowModel& model() const { return *model_; }
  TRSSession& session() { return *session_; }
  SearchDialog& searchDialog() { return *searchDialog_; }
  CoefficientsStore& coefficientsStore() { return store_; }
  SelectedDevice device() const { return model_->device(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void createControls();
  void drawMarkedCell(QPainter& painter, int column, int row, const QRect& rect);
  void showLoopMenu(QPoint point, QPoint globalPoint);

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

  std::unique_ptr<TRSSession> session_;
  std::unique_ptr<BusThread> bus_;
  CoefficientsStore store_;
  std::unique_ptr<SearchDialog> searchDialog_;

  QToolButton* searchButton_ = nullptr;
  QLabel* deviceLabel_ = nullptr;
  LoopGrid* loopTable_ = nullptr;
  QPushButton* readButton_ = nullptr;
  TogglePanel* adcViewToggle_ = nullptr;
  TogglePanel* stateViewToggle_ = nullptr;
  QToolButton* toolsButton_ = nullptr;
  QToolButton* periodicButton_ = nullptr;
  FilteredSpinEdit* periodField_ = nullptr;
  QTimer* tickTimer_ = nullptr;
  PasswordDialog* passwordDialog_ = nullptr;
  // The loop table's context menu and the row it was opened on.
  QMenu* loopMenu_ = nullptr;
  QAction* historyAction_ = nullptr;
  int menuRow_ = -1;
  // One history window per loop; each closes by itself.
  std::map<LoopKey, QPointer<HistoryWindow>> historyWindows_;

  std::unique_ptr<MainWindowModel> model_;
};

}  // namespace loopmon
