#include "loops/reading_cycle.h"

#include "loops/loop_decode.h"
#include "platform/locale_info.h"

namespace loopmon {

namespace {

// Every request of the cycle awaits an answer.
constexpr uint8_t AwaitAnswer = 1;

}  // namespace

std::string ReadingCaption(int loop) {
  return "Состояние шлейфов приборов: ШС №" + std::to_string(loop);
}

ReadingCycle::ReadingCycle(LoopTableView& view, LoopRequester& requester,
                           const CoefficientsStore& store, std::optional<char> decimalSeparator)
    : view_(view), requester_(requester), store_(store), decimalSeparator_(decimalSeparator) {}

void ReadingCycle::Start() {
  const SelectedDevice device = view_.Device();
  coefficients_ = store_.Lookup(device.DevType, device.DevVersion);
  // A periodic reading overwrites the values pass after pass instead.
  if (!view_.PeriodicOn()) view_.ClearTable();
  curLoop_ = 1;
}

TickResult ReadingCycle::Tick() {
  view_.SetCaption(ReadingCaption(curLoop_));
  view_.ProcessPendingEvents();

  // The current loop is read afresh after every event round: a restart of the
  // reading from inside the events takes effect at once.
  const std::string number = std::to_string(curLoop_);
  if (view_.Cell(0, curLoop_) != number) view_.SetCell(0, curLoop_, number);
  if (view_.SkipMark(curLoop_)) {
    view_.SetCell(1, curLoop_, "");
    view_.SetCell(2, curLoop_, "");
  } else {
    readLoop(curLoop_);
  }

  view_.ProcessPendingEvents();
  view_.RepaintTable();

  ++curLoop_;
  if (curLoop_ <= view_.RowCount() - 1) return {.enableTimer = true};
  curLoop_ = 1;
  if (view_.PeriodicOn()) {
    return {.enableTimer = true, .waitBeforeEnableMs = view_.PeriodSeconds() * 1000};
  }
  view_.SetCaption(IdleCaption);
  return {};
}

void ReadingCycle::readLoop(int loop) {
  const SelectedDevice device = view_.Device();
  const uint8_t command = view_.AdcView() ? BusCommand::LoopAdc : BusCommand::LoopState;
  if (!requester_.DirectRequest(LoopRequest(device.DevAddr, command, loop), AwaitAnswer)) {
    view_.SetCell(0, loop, std::to_string(loop));
    view_.SetCell(1, loop, "false");
    return;
  }
  const Bytes& answer = requester_.LastAnswer();
  if (answer.size() < 5) {
    for (int column = 0; column <= 2; ++column) view_.SetCell(column, loop, "?");
    return;
  }
  const uint8_t value = answer[4];
  if (!view_.AdcView()) {
    view_.SetCell(1, loop, LoopStateText(value));
    return;
  }
  setCellIfDiffers(1, loop, std::to_string(value));
  const std::string text =
      device.DevType == LineControllerType
          ? lineDeviceText(device.DevAddr, loop, value)
          : ResistanceText(value, coefficients_,
                           decimalSeparator_ ? *decimalSeparator_ : userDecimalSeparator());
  setCellIfDiffers(2, loop, text);
}

std::string ReadingCycle::lineDeviceText(uint8_t devAddr, int loop, uint8_t adc) {
  // The controller leaves column 2 empty when it does not answer; the table
  // already says enough, so no box interrupts the cycle for it.
  if (!requester_.DirectRequest(LoopRequest(devAddr, BusCommand::LineDevice, loop, 1),
                                AwaitAnswer)) {
    return {};
  }
  const LineDeviceText decoded = DecodeLineDevice(requester_.LastAnswer(), adc);
  if (decoded.message) view_.ShowMessage(*decoded.message);
  return decoded.text;
}

void ReadingCycle::setCellIfDiffers(int column, int row, const std::string& text) {
  if (view_.Cell(column, row) != text) view_.SetCell(column, row, text);
}

}  // namespace loopmon
