#include "desktop/main_window_model.h"

#include <algorithm>
#include <memory>

#include "desktop/texts.h"
#include "session/bus_runner.h"
#include "session/session.h"

namespace loopmon {

namespace {

void rethrowIfFailed(std::exception_ptr error) {
  if (error) std::rethrow_exception(error);
}

bool sameDevice(const SelectedDevice& a, const SelectedDevice& b) {
  return a.DevAddr == b.DevAddr && a.DevType == b.DevType && a.DevVersion == b.DevVersion;
}

}  // namespace

MainWindowModel::MainWindowModel(MainWindowView& view, BusRunner& bus,
                                 const CoefficientsStore& store,
                                 std::optional<char> decimalSeparator)
    : view_(view), bus_(bus), cycle_(*this, bus, store, decimalSeparator) {
  cycle_.SetReadingTaken([this](const LoopReading& reading) { readingTaken(reading); });
  view_.showCaption(texts::MainCaption);
  view_.showDeviceLabel(texts::NoDevice);
  view_.showPeriod(period_);
  view_.showPeriodicDown(false);
  setReadControls(false);
  setRowCount(1, false);
  writeHeadings();
}

void MainWindowModel::SetCell(int column, int row, const std::string& text) {
  if (column <= 2 && grid_.setCell(column, row, text)) view_.showGridCell(column, row);
}

void MainWindowModel::setMark(int row, bool value) {
  if (grid_.setMarked(row, value)) view_.showGridCell(0, row);
}

void MainWindowModel::setMoved(int row, bool value) {
  if (grid_.setMoved(row, value)) view_.showGridCell(0, row);
}

void MainWindowModel::setRowCount(int rows, bool scrollBar) {
  grid_.setRowCount(rows);
  grid_.setScrollBar(scrollBar);
  view_.showGrid();
}

void MainWindowModel::setReadControls(bool enabled) {
  readEnabled_ = enabled;
  view_.showReadControls(enabled, enabled, enabled);
}

void MainWindowModel::writeHeadings() {
  const LoopColumns& columns = LoopColumnsFor(adcView_);
  view_.showView(adcView_);
  grid_.setColumnWidths(columns.widths);
  view_.showGrid();
  // Column 2 is not written in the state view: it lies outside the visible width.
  for (int column = 0; column < (adcView_ ? 3 : 2); ++column) {
    SetCell(column, 0, columns.headings[static_cast<size_t>(column)]);
  }
}

void MainWindowModel::clear() {
  grid_.forgetReadings();
  for (int row = 0; row < std::min(ClearedRows, rowCount()); ++row) {
    SetCell(0, row, "");
    SetCell(1, row, "");
  }
}

void MainWindowModel::ClearTable() {
  clear();
  writeHeadings();
}

void MainWindowModel::searchClicked() {
  // The search takes the bus for itself: a reading does not go on behind it.
  leaveDevice();
  const uint8_t address = view_.runSearchDialog();
  if (address != 0) deviceChosen(address);
}

void MainWindowModel::loopChosen(uint8_t address, int loop) {
  if (address == device_.DevAddr) {
    showChosenRow(loop);
    return;
  }
  // Another device: the reading of this one ends, as a new search ends it.
  leaveDevice();
  deviceChosen(address, loop);
}

void MainWindowModel::leaveDevice() {
  stopReading();
  if (periodicDown_) {
    periodicDown_ = false;
    view_.showPeriodicDown(false);
  }
  setReadControls(false);
  device_ = {};
  ++search_;
  // The next device starts from an empty table: a row the blanking of a
  // reading never reaches (past its first rows, or the resistance column)
  // must not show what the device left behind.
  setRowCount(1, false);
  showChosenRow(0);
}

void MainWindowModel::showChosenRow(int row) {
  grid_.setChosenRow(row);
  view_.showGrid();
}

void MainWindowModel::deviceChosen(uint8_t address, int chosenRow) {
  struct Found {
    std::string line;
    uint16_t type = 0;
    uint8_t version = 0;
  };
  auto found = std::make_shared<Found>();
  bus_.run(
      [address, found](TRSSession& session) {
        found->line = session.DescribeDevice(address);
        found->type = session.GetDeviceType(address);
        found->version = session.DeviceVersion(address);
      },
      [this, address, found, chosenRow, search = search_](std::exception_ptr error) {
        // The search opened again meanwhile: that one decides.
        if (search != search_) return;
        rethrowIfFailed(error);
        device_.DevAddr = address;
        view_.showDeviceLabel(found->line);
        setReadControls(true);
        clear();
        const LoopLayout layout = LoopLayoutFor(found->type);
        setRowCount(layout.rows, layout.scrollBar);
        writeHeadings();
        device_.DevType = static_cast<uint8_t>(found->type & 0xFF);
        device_.DevVersion = found->version;
        for (int row = 1; row < rowCount(); ++row) {
          SetCell(0, row, std::to_string(row));
          setMark(row, layout.markedFrom != 0 && row >= layout.markedFrom);
        }
        // The same device chosen again: its history goes on, marks and all.
        showMovedMarks();
        showChosenRow(chosenRow);
      });
}

void MainWindowModel::startReading() {
  cycle_.Start();
  if (!sameDevice(historyDevice_, device_)) {
    history_.Clear();
    historyDevice_ = device_;
    showMovedMarks();
  }
  reading_ = true;
  waiting_ = false;
  // A tick still on the bus belonged to the reading replaced: its answer is dropped.
  tickOnBus_ = false;
  view_.startTimer(TickIntervalMs);
}

void MainWindowModel::stopReading() {
  reading_ = false;
  waiting_ = false;
  tickOnBus_ = false;
  view_.stopTimer();
}

void MainWindowModel::readClicked() {
  if (!readEnabled_) return;
  startReading();
}

void MainWindowModel::periodicClicked(bool down) {
  periodicDown_ = down;
  if (down) {
    // A reading that cannot start (a broken calibration) leaves the read
    // button as it was.
    startReading();
    readEnabled_ = false;
  } else {
    // Released while a tick is on the bus, the pass runs on to its last loop
    // and ends as a single pass does; between ticks, or during the wait
    // between passes, no further tick runs.
    if (!tickOnBus_) stopReading();
    readEnabled_ = true;
  }
  view_.showReadControls(readEnabled_, true, true);
}

void MainWindowModel::timerFired() {
  view_.stopTimer();
  if (!reading_) return;
  waiting_ = false;
  tickOnBus_ = true;
  cycle_.Tick([this](TickResult result) { tickDone(result); });
}

void MainWindowModel::tickDone(TickResult result) {
  tickOnBus_ = false;
  if (!reading_) return;
  if (!result.enableTimer) {
    reading_ = false;
    // A periodic reading ends only on an error: the button must say so.
    if (periodicDown_) periodicClicked(false);
    view_.showPeriodicDown(periodicDown_);
    return;
  }
  if (result.waitBeforeEnableMs > 0) {
    waiting_ = true;
    view_.startTimer(result.waitBeforeEnableMs);
  } else {
    view_.startTimer(TickIntervalMs);
  }
}

std::optional<LoopKey> MainWindowModel::historyKey(int row) const {
  if (row <= 0 || row >= rowCount() || device_.DevAddr == 0 || !sameDevice(historyDevice_, device_))
    return std::nullopt;
  const LoopKey key{device_.DevAddr, row};
  if (!history_.Summary(key)) return std::nullopt;
  return key;
}

bool MainWindowModel::moved(int row) const {
  const auto key = historyKey(row);
  if (!key) return false;
  const auto summary = history_.Summary(*key);
  return summary && summary->moves > 0;
}

void MainWindowModel::readingTaken(const LoopReading& reading) {
  history_.Record(reading);
  // The row shows it unless the view switched meanwhile.
  if ((reading.kind == ReadingKind::Adc) == adcView_) grid_.setReading(reading);
  if (!grid_.moved(reading.loop) && moved(reading.loop)) setMoved(reading.loop, true);
}

void MainWindowModel::showMovedMarks() {
  for (int row = 1; row < rowCount(); ++row) setMoved(row, moved(row));
}

void MainWindowModel::historyClicked(int row) {
  if (const auto key = historyKey(row)) view_.showHistory(*key);
}

void MainWindowModel::switchView(bool adcView) {
  adcView_ = adcView;
  grid_.forgetReadings();
  for (int row = 0; row < rowCount(); ++row) {
    SetCell(1, row, "");
    SetCell(2, row, "");
  }
  writeHeadings();
}

void MainWindowModel::adcViewClicked() {
  switchView(true);
}

void MainWindowModel::stateViewClicked() {
  switchView(false);
}

int MainWindowModel::periodChanged(int seconds) {
  period_ = std::clamp(seconds, MinPeriodSeconds, MaxPeriodSeconds);
  if (period_ != seconds) view_.showPeriod(period_);
  return period_;
}

bool MainWindowModel::periodKeyAccepted(char32_t key) {
  return (key >= U'0' && key <= U'9') || key == 8 || key == 13;
}

void MainWindowModel::toolsClicked() {
  view_.showPasswordDialog();
}

void MainWindowModel::deviceLabelDoubleClicked() {
  bus_.run([](TRSSession& session) { session.ClosePort(); }, rethrowIfFailed);
}

void MainWindowModel::tablePressed(int column, int row, bool leftButton) {
  if (!leftButton) return;
  // A marking whose release never came (the row's menu took the mouse) ends
  // with the next press: its fill must not land on a later release.
  marking_ = false;
  if (column != 0 || row <= 0 || row >= rowCount()) return;
  setMark(row, !marked(row));
  markStartRow_ = markLastRow_ = row;
  markValue_ = marked(row);
  marking_ = true;
}

void MainWindowModel::tableDragged(int column, int row, bool onlyLeftHeld) {
  if (!marking_ || !onlyLeftHeld) return;
  if (column != 0 || row <= 0 || row >= rowCount() || row == markLastRow_) return;
  setMark(row, markValue_);
  markLastRow_ = row;
}

void MainWindowModel::tableReleased(int row, bool leftButton) {
  // Only after a press that marked a row: any other release paints nothing.
  if (!marking_ || !leftButton) return;
  marking_ = false;
  const int first = std::max(std::min(markStartRow_, row), 1);
  const int last = std::min(std::max(markStartRow_, row), rowCount() - 1);
  for (int r = first; r <= last; ++r) setMark(r, markValue_);
}

}  // namespace loopmon
