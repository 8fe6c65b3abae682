#pragma once
// TForm1: the main window. It owns the session RSSession1 and the search
// component SearchDv, shows the selected device and the loop table, and drives
// the reading cycle with Timer1, one loop per tick.

#include <QWidget>
#include <memory>
#include <string>

#include "loops/coeffs.h"
#include "loops/reading_cycle.h"
#include "platform/platform.h"

class QLabel;
class QPushButton;
class QTimer;
class QToolButton;

namespace loopmon {

class FilteredSpinEdit;
class LoopGrid;
class TRSSession;
class TSearchDv;
class TfrmPassword;
class TogglePanel;

class TForm1 : public QWidget, public LoopTableView {
  Q_OBJECT
 public:
  // Where the window keeps its files; both beside the program by default.
  struct Files {
    std::string coefficients;
    std::string portSettings;
    static Files besideProgram();
  };

  explicit TForm1(Platform platform = Platform::system(), Files files = Files::besideProgram());
  ~TForm1() override;

  // The password dialog that btnTools opens; created after this window.
  void setPasswordDialog(TfrmPassword* dialog) { frmPassword_ = dialog; }

  // Handlers.
  void FormCreate();
  void sbSearchClick();
  void BitBtn2Click();
  void Timer1Timer();
  void pACPClick();
  void pSSClick();
  void SpeedButtonClick();
  void sePeriodChange(int value);
  void sePeriodKeyPress(QChar& key);
  void btnToolsClick();
  void Label1DblClick();
  void StringGrid1DrawCell(QPainter& painter, int col, int row, const QRect& rect);
  void StringGrid1MouseDown(Qt::MouseButton button, QPoint point);
  void StringGrid1MouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers,
                            QPoint point);
  void StringGrid1MouseUp(Qt::MouseButton button, QPoint point);
  void clear();
  // The column headings of the current view.
  void SetupHeadings();

  // LoopTableView.
  SelectedDevice Device() const override { return Dev; }
  int RowCount() const override;
  std::string Cell(int column, int row) const override;
  void SetCell(int column, int row, const std::string& text) override;
  bool SkipMark(int row) const override;
  bool AdcView() const override;
  bool PeriodicOn() const override;
  int PeriodSeconds() const override;
  void ClearTable() override;
  void SetCaption(const std::string& caption) override;
  void ShowMessage(const std::string& text) override;
  void ProcessPendingEvents() override;
  void RepaintTable() override;

  TRSSession& RSSession1() { return *session_; }
  TSearchDv& SearchDv() { return *searchDv_; }
  CoefficientsStore& coefficientsStore() { return store_; }
  const ReadingCycle& readingCycle() const { return *cycle_; }
  // Timer1 is running or the wait between two periodic passes is.
  bool readingScheduled() const;
  bool waitingBetweenPasses() const;

  SelectedDevice Dev;
  int MarkStartRow = 0;
  int MarkLastRow = 0;
  int MarkValue = 0;

  QToolButton* btnSearch = nullptr;
  QLabel* Label1 = nullptr;
  LoopGrid* StringGrid1 = nullptr;
  QPushButton* BitBtn2 = nullptr;
  TogglePanel* pACP = nullptr;
  TogglePanel* pSS = nullptr;
  QToolButton* btnTools = nullptr;
  QToolButton* SpeedButton = nullptr;
  FilteredSpinEdit* sePeriod = nullptr;
  QTimer* Timer1 = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void createControls();
  // BitBtn2Click without the error handler: throws when the coefficients
  // cannot be loaded, before anything has changed.
  void startReading();
  void switchView(TogglePanel* lowered, TogglePanel* raised);
  void setReadControlsEnabled(bool enabled);

  std::unique_ptr<TRSSession> session_;
  std::unique_ptr<TSearchDv> searchDv_;
  CoefficientsStore store_;
  std::unique_ptr<SessionRequester> requester_;
  std::unique_ptr<ReadingCycle> cycle_;
  // The wait between two periodic passes.
  QTimer* periodWait_ = nullptr;
  // Set by a press that marked a row; a drag and a release only paint after one.
  bool marking_ = false;
  TfrmPassword* frmPassword_ = nullptr;
};

}  // namespace loopmon
