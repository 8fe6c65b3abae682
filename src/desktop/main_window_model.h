#pragma once
// The main window's logic without a toolkit: the selected device, the loop
// table with its skip marks and the mouse rule that paints them, the two
// views, the read and periodic buttons and the period field, and the reading
// cycle behind them. A front end forwards the user's input as plain calls and
// shows what the model tells its MainWindowView.

#include <cstdint>
#include <optional>
#include <string>

#include "desktop/loop_grid_model.h"
#include "loops/loop_history.h"
#include "loops/loop_layout.h"
#include "loops/reading_cycle.h"

namespace loopmon {

class BusRunner;

inline constexpr int MinPeriodSeconds = 1;
inline constexpr int MaxPeriodSeconds = 30;
inline constexpr int TickIntervalMs = 10;

// What the main window shows; the model calls it on the window's thread.
class MainWindowView {
 public:
  virtual ~MainWindowView() = default;

  virtual void showCaption(const std::string& caption) = 0;
  virtual void showDeviceLabel(const std::string& text) = 0;
  virtual void showReadControls(bool readEnabled, bool periodicEnabled, bool periodEnabled) = 0;
  virtual void showPeriodicDown(bool down) = 0;
  virtual void showPeriod(int seconds) = 0;
  // The pressed panel.
  virtual void showView(bool adcView) = 0;
  // The grid (the model's grid()) changed its rows, columns, scroll bar or
  // chosen row: lay it out again and repaint it whole. Calls made before the
  // front end has the model draw nothing.
  virtual void showGrid() = 0;
  // One cell of the grid changed its text, or in column 0 its marks.
  virtual void showGridCell(int column, int row) = 0;
  // The loop's history window (the model's history(), this loop's key).
  virtual void showHistory(LoopKey /*key*/) {}
  // The one timer of the reading: fires once after `delayMs`; a new start
  // replaces a pending one.
  virtual void startTimer(int delayMs) = 0;
  virtual void stopTimer() = 0;
  // A box captioned with the application's title, one OK button.
  virtual void showMessage(const std::string& text) = 0;
  // The search dialog, modally: the chosen address, or 0.
  virtual uint8_t runSearchDialog() = 0;
  virtual void showPasswordDialog() = 0;
};

class MainWindowModel : private LoopTableView {
 public:
  // `bus` carries every exchange; `store` gives the coefficients a reading
  // starts with. `decimalSeparator` unset: the user's locale separator.
  MainWindowModel(MainWindowView& view, BusRunner& bus, const CoefficientsStore& store,
                  std::optional<char> decimalSeparator = std::nullopt);

  // Input. Handlers that fail throw; the front end's error handler shows it.
  void searchClicked();
  void readClicked();
  void periodicClicked(bool down);
  void adcViewClicked();
  void stateViewClicked();
  // The period field changed; returns the value the field must show (1..30).
  int periodChanged(int seconds);
  // The period field lost the focus: emptied, it shows the period in use again.
  void periodFieldLeft() { view_.showPeriod(period_); }
  // Whether a typed character may reach the period field.
  static bool periodKeyAccepted(char32_t key);
  void toolsClicked();
  void deviceLabelDoubleClicked();
  // Mouse over the table: `column` and `row` under the pointer, -1 for none.
  void tablePressed(int column, int row, bool leftButton);
  // `onlyLeftHeld`: the left button is held with no other button or modifier.
  void tableDragged(int column, int row, bool onlyLeftHeld);
  void tableReleased(int row, bool leftButton);
  // The row's context menu asked for the loop's history; it does nothing to
  // the marks, whatever button opened the menu.
  void historyClicked(int row);
  void timerFired();
  // Another window chose a device and one of its loops (0: the device alone):
  // the device is selected as a search's choice would select it, its reading
  // stopped when it is another one, and the loop's row is shown.
  void loopChosen(uint8_t address, int loop);

  // State for the front end and tests.
  const SelectedDevice& device() const { return device_; }
  bool adcView() const { return adcView_; }
  bool periodicDown() const { return periodicDown_; }
  int period() const { return period_; }
  // The loop table: rows, marks, the chosen row and the geometry the front
  // end draws and hit-tests with (the front end sets its size and scrolls it).
  LoopGridModel& grid() { return grid_; }
  const LoopGridModel& grid() const { return grid_; }
  int rowCount() const { return grid_.rowCount(); }
  const std::string& cell(int column, int row) const { return grid_.cell(column, row); }
  bool marked(int row) const { return grid_.marked(row); }
  // A reading runs: a tick is due, on the bus, or the wait between passes runs.
  bool reading() const { return reading_; }
  bool waitingBetweenPasses() const { return waiting_; }
  const ReadingCycle& readingCycle() const { return cycle_; }
  // The row chosen by another window (the survey's list of changes), framed
  // and scrolled into sight; 0 for none.
  int chosenRow() const { return grid_.chosenRow(); }

  // Every reading of this run for the device read last. It starts afresh when
  // a reading starts for another device, never between passes or readings of
  // the same one. A view switch keeps it: a loop's readings of both kinds stay
  // in one series, moves are judged between readings of the same kind.
  const LoopHistory& history() const { return history_; }
  // The history's key of a loop row of the selected device, once its loop has
  // a reading in the history.
  std::optional<LoopKey> historyKey(int row) const;
  // The row's loop has moved since the readings of this device began.
  bool moved(int row) const;

 private:
  void startReading();
  void stopReading();
  void tickDone(TickResult result);
  void deviceChosen(uint8_t address, int chosenRow = 0);
  void showChosenRow(int row);
  // No device selected, its reading ended, a device chosen earlier no more the user's choice.
  void leaveDevice();
  void setReadControls(bool enabled);
  void setRowCount(int rows, bool scrollBar);
  void setMark(int row, bool marked);
  void setMoved(int row, bool moved);
  void switchView(bool adcView);
  void writeHeadings();
  void clear();
  void readingTaken(const LoopReading& reading);
  void showMovedMarks();

  // LoopTableView, for the reading cycle.
  SelectedDevice Device() const override { return device_; }
  int RowCount() const override { return rowCount(); }
  std::string Cell(int column, int row) const override { return cell(column, row); }
  void SetCell(int column, int row, const std::string& text) override;
  bool SkipMark(int row) const override { return marked(row); }
  bool AdcView() const override { return adcView_; }
  bool PeriodicOn() const override { return periodicDown_; }
  int PeriodSeconds() const override { return period_; }
  void ClearTable() override;
  void SetCaption(const std::string& caption) override { view_.showCaption(caption); }
  void ShowMessage(const std::string& text) override { view_.showMessage(text); }

  MainWindowView& view_;
  BusRunner& bus_;
  ReadingCycle cycle_;
  SelectedDevice device_;
  LoopGridModel grid_;
  bool adcView_ = true;
  bool periodicDown_ = false;
  int period_ = MinPeriodSeconds;
  bool readEnabled_ = false;
  bool reading_ = false;
  bool waiting_ = false;
  // A tick's exchange is on the bus.
  bool tickOnBus_ = false;
  // Counts the searches: a device chosen in one that has been followed by
  // another is no longer the user's choice.
  unsigned search_ = 0;
  // The drag painting: set by a press that marked a row.
  bool marking_ = false;
  int markStartRow_ = 0;
  int markLastRow_ = 0;
  bool markValue_ = false;
  LoopHistory history_;
  // The device the history belongs to.
  SelectedDevice historyDevice_;
};

}  // namespace loopmon
