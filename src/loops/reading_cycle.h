#pragma once
// The reading cycle behind the loop table, free of widgets: a start, then one
// tick per loop row driven by the host's 10 ms timer. The Qt main window and
// loopctl both drive it; each supplies the table as a LoopTableView.

#include <cstdint>
#include <optional>
#include <string>

#include "loops/coeffs.h"
#include "transport/frame.h"

namespace loopmon {

class TRSSession;

// The session's direct request as the cycle sees it.
class LoopRequester {
 public:
  virtual ~LoopRequester() = default;
  // Up to six attempts; true with the answer in LastAnswer(), or false.
  virtual bool DirectRequest(const Bytes& request, uint8_t mode) = 0;
  virtual const Bytes& LastAnswer() const = 0;
};

// The adapter onto a real session (defined apart, so that users of the cycle
// without a session do not link one).
class SessionRequester : public LoopRequester {
 public:
  explicit SessionRequester(TRSSession& session) : session_(session) {}
  bool DirectRequest(const Bytes& request, uint8_t mode) override;
  const Bytes& LastAnswer() const override;

 private:
  TRSSession& session_;
};

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
  // Handles the pending window input (buttons, marks, view switches) until
  // none is left; the host may change the device, the view or the marks here.
  virtual void ProcessPendingEvents() = 0;
  // Repaints the table at once.
  virtual void RepaintTable() = 0;
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
};

// The window caption while loop `loop` is read, and once a single pass is over.
std::string ReadingCaption(int loop);
inline constexpr char IdleCaption[] = "Состояние шлейфов приборов";

class ReadingCycle {
 public:
  // `decimalSeparator` unset: the user's locale separator, asked on every tick.
  ReadingCycle(LoopTableView& view, LoopRequester& requester, const CoefficientsStore& store,
               std::optional<char> decimalSeparator = std::nullopt);

  // BitBtn2Click without the timer: loads the coefficients of the selected
  // device, blanks the table unless periodic reading is on, and sets the
  // current loop to 1. The host then enables its timer. Throws the store's
  // ConversionError when the device's section is broken; nothing else has
  // happened then and the reading must not start.
  void Start();

  // Timer1Timer with the timer already disabled by the host: reads loop
  // CurLoop() (or skips it when marked), shows the result and moves on.
  TickResult Tick();

  int CurLoop() const { return curLoop_; }
  const Coefficients& coefficients() const { return coefficients_; }

 private:
  void readLoop(int loop);
  std::string lineDeviceText(uint8_t devAddr, int loop, uint8_t adc);
  void setCellIfDiffers(int column, int row, const std::string& text);

  LoopTableView& view_;
  LoopRequester& requester_;
  const CoefficientsStore& store_;
  std::optional<char> decimalSeparator_;
  int curLoop_ = 1;
  Coefficients coefficients_;
};

}  // namespace loopmon
