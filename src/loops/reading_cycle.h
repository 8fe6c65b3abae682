#pragma once
// The reading cycle behind the loop table, free of widgets: a start, then one
// tick per loop row driven by the host's 10 ms timer. Each tick's requests go
// through the window's BusRunner; the row shows the answer once they have
// ended. The main window model and loopctl both drive it; each supplies the
// table as a LoopTableView.

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>

#include "loops/coeffs.h"
#include "loops/loop_reading.h"

namespace loopmon {

class BusRunner;

// The selected device: all 0 while none is selected.
struct SelectedDevice {
  uint8_t DevAddr = 0;
  uint8_t DevType = 0;
  uint8_t DevVersion = 0;
};

// The main window as the cycle uses it. Row 0 holds the headings, row r is
// loop r; column 0 the loop number, columns 1 and 2 the values. The cycle may
// address a row at or past RowCount() (the first tick of a device without loop
// rows reads loop 1): such a row reads as empty and unmarked, writes to it may
// be dropped.
class LoopTableView {
 public:
  virtual ~LoopTableView() = default;

  virtual SelectedDevice Device() const = 0;
  // Number of grid rows, heading row included.
  virtual int RowCount() const = 0;
  virtual std::string Cell(int column, int row) const = 0;
  virtual void SetCell(int column, int row, const std::string& text) = 0;
  // The row's skip mark: a marked loop is not read.
  virtual bool SkipMark(int row) const = 0;
  // True in the ADC view ("АЦП" pressed), false in the state view ("ШС").
  virtual bool AdcView() const = 0;
  // Periodic reading switched on (the latching button is down).
  virtual bool PeriodicOn() const = 0;
  // The period between passes, 1 to 30 seconds.
  virtual int PeriodSeconds() const = 0;
  // The window's `clear` followed by the column headings of the current view.
  virtual void ClearTable() = 0;
  virtual void SetCaption(const std::string& caption) = 0;
  // A modal box captioned with the application's title, one OK button; returns
  // when the user has closed it.
  virtual void ShowMessage(const std::string& text) = 0;
};

// What the host does with its timer after a tick.
struct TickResult {
  // Enable the timer again (the next tick follows after its 10 ms).
  bool enableTimer = false;
  // Non-zero at the end of a periodic pass: wait this long before enabling the
  // timer. The host waits with a timer of its own so that the window stays
  // responsive; a release of the periodic button during the wait must cancel
  // it, so that no further tick runs.
  int waitBeforeEnableMs = 0;
  // The tick's exchange failed with an error, which goes on to the host.
  bool failed = false;
};

// The window caption while loop `loop` is read, and once a single pass is over.
std::string ReadingCaption(int loop);
inline constexpr char IdleCaption[] = "Состояние шлейфов приборов";

// One loop read without a table: the tick's requests go through `bus`, and
// `done` gets the decoded reading on the host's thread (or the exchange's
// error, with a reading that means nothing). The cycle's ticks and the
// survey both read with it.
using LoopRead = std::function<void(std::exception_ptr error, const LoopReading& reading)>;
void ReadLoop(BusRunner& bus, const LoopRequestOf& request, LoopRead done);

class ReadingCycle {
 public:
  using TickDone = std::function<void(TickResult)>;
  using ReadingTaken = std::function<void(const LoopReading&)>;

  // `decimalSeparator` unset: the user's locale separator, asked on every tick.
  ReadingCycle(LoopTableView& view, BusRunner& bus, const CoefficientsStore& store,
               std::optional<char> decimalSeparator = std::nullopt);

  // Starting a reading without the timer: loads the coefficients of the
  // selected device, blanks the table unless periodic reading is on, and sets
  // the current loop to 1. The host then enables its timer. Throws the store's
  // ConversionError when the device's section is broken; nothing else has
  // happened then and the reading must not start. A tick still on the bus
  // from before is dropped: its row belongs to the reading just replaced.
  void Start();

  // One tick with the timer already disabled by the host: reads loop
  // CurLoop() (or skips it when marked), shows the result and moves on, then
  // tells `done` what to do with the timer. An exchange that fails with an
  // error ends the reading (`done` gets a failed result) and the error goes on
  // to the window's error handler.
  void Tick(TickDone done);

  // Called with every reading of the current reading, answered or not, when
  // its tick's answers are back (on the host's thread, before the row shows
  // it), also when a view switched meanwhile keeps the row from showing it.
  void SetReadingTaken(ReadingTaken taken) { readingTaken_ = std::move(taken); }

  int CurLoop() const { return curLoop_; }
  const Coefficients& UsedCoefficients() const { return coefficients_; }

 private:
  void show(const LoopReading& reading);
  TickResult advance();

  LoopTableView& view_;
  BusRunner& bus_;
  const CoefficientsStore& store_;
  std::optional<char> decimalSeparator_;
  int curLoop_ = 1;
  // Counts the starts: a tick's answers come back to the reading that sent it.
  unsigned reading_ = 0;
  Coefficients coefficients_;
  ReadingTaken readingTaken_;
};

}  // namespace loopmon
