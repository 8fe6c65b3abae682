#include "loops/reading_cycle.h"

#include <chrono>
#include <memory>

#include "loops/loop_decode.h"
#include "loops/loop_layout.h"
#include "platform/system/locale_info.h"
#include "session/bus_runner.h"
#include "session/session.h"
#include "transport/answer_rule.h"

namespace loopmon {

namespace {

// Every request of the cycle awaits an answer.
constexpr uint8_t AwaitAnswer = 1;

}  // namespace

struct ReadingCycle::Answers {
  bool loopAnswered = false;
  Bytes loop;
  bool lineAnswered = false;
  Bytes line;
};

std::string ReadingCaption(int loop) {
  return "Состояние шлейфов приборов: ШС №" + std::to_string(loop);
}

ReadingCycle::ReadingCycle(LoopTableView& view, BusRunner& bus, const CoefficientsStore& store,
                           std::optional<char> decimalSeparator)
    : view_(view), bus_(bus), store_(store), decimalSeparator_(decimalSeparator) {}

void ReadingCycle::Start() {
  const SelectedDevice device = view_.Device();
  coefficients_ = store_.Lookup(device.DevType, device.DevVersion);
  ++reading_;
  // A periodic reading overwrites the values pass after pass instead.
  if (!view_.PeriodicOn()) view_.ClearTable();
  curLoop_ = 1;
}

void ReadingCycle::Tick(TickDone done) {
  const int loop = curLoop_;
  view_.SetCaption(ReadingCaption(loop));
  const std::string number = std::to_string(loop);
  if (view_.Cell(0, loop) != number) view_.SetCell(0, loop, number);
  if (view_.SkipMark(loop)) {
    view_.SetCell(1, loop, "");
    view_.SetCell(2, loop, "");
    done(advance());
    return;
  }

  const SelectedDevice device = view_.Device();
  const bool adcView = view_.AdcView();
  const Bytes request =
      LoopRequest(device.DevAddr, adcView ? BusCommand::LoopAdc : BusCommand::LoopState, loop);
  // The line controller's second request follows its loop ADC request within
  // the same exchange, as it would within one tick.
  const std::optional<Bytes> lineRequest =
      adcView && device.DevType == LineControllerType
          ? std::optional(LoopRequest(device.DevAddr, BusCommand::LineDevice, loop, 1))
          : std::nullopt;
  auto answers = std::make_shared<Answers>();
  bus_.run(
      [request, lineRequest, answers](TRSSession& session) {
        // An answer that cannot be this loop's shows as no answer, never as a value.
        answers->loopAnswered = session.DirectRequest(request, AwaitAnswer) &&
                                AnswerFitsRequest(request, session.LastAnswer());
        if (!answers->loopAnswered) return;
        answers->loop = session.LastAnswer();
        if (!lineRequest || answers->loop.size() < 5) return;
        answers->lineAnswered = session.DirectRequest(*lineRequest, AwaitAnswer);
        if (answers->lineAnswered) answers->line = session.LastAnswer();
      },
      [this, loop, device, adcView, answers, reading = reading_,
       done = std::move(done)](std::exception_ptr error) {
        if (reading != reading_) return;
        if (error) {
          done({.failed = true});
          std::rethrow_exception(error);
        }
        take(loop, device, adcView, *answers);
        show(loop, device, adcView, *answers);
        done(advance());
      });
}

TickResult ReadingCycle::advance() {
  ++curLoop_;
  if (curLoop_ <= view_.RowCount() - 1) return {.enableTimer = true};
  curLoop_ = 1;
  if (view_.PeriodicOn()) {
    return {.enableTimer = true, .waitBeforeEnableMs = view_.PeriodSeconds() * 1000};
  }
  view_.SetCaption(IdleCaption);
  return {};
}

void ReadingCycle::show(int loop, const SelectedDevice& device, bool adcView,
                        const Answers& answers) {
  // A view switched meanwhile has blanked the row; an answer of the other
  // kind has no place in it.
  if (view_.AdcView() != adcView) return;
  if (!answers.loopAnswered) {
    view_.SetCell(0, loop, std::to_string(loop));
    view_.SetCell(1, loop, "false");
    return;
  }
  if (answers.loop.size() < 5) {
    for (int column = 0; column <= 2; ++column) view_.SetCell(column, loop, "?");
    return;
  }
  const uint8_t value = answers.loop[4];
  if (!adcView) {
    view_.SetCell(1, loop, LoopStateText(value));
    return;
  }
  setCellIfDiffers(1, loop, std::to_string(value));
  std::string text;
  if (device.DevType != LineControllerType) {
    text = ResistanceText(value, coefficients_,
                          decimalSeparator_ ? *decimalSeparator_ : userDecimalSeparator());
  } else if (answers.lineAnswered) {
    // The controller leaves column 2 empty when it does not answer; the table
    // already says enough, so no box interrupts the cycle for it.
    const LineDeviceText decoded = DecodeLineDevice(answers.line, value);
    if (decoded.message) view_.ShowMessage(*decoded.message);
    text = decoded.text;
  }
  setCellIfDiffers(2, loop, text);
}

void ReadingCycle::take(int loop, const SelectedDevice& device, bool adcView,
                        const Answers& answers) const {
  if (!readingTaken_ || !answers.loopAnswered || answers.loop.size() < 5) return;
  const uint8_t value = answers.loop[4];
  const WallTime now = std::chrono::system_clock::now();
  if (!adcView) {
    readingTaken_(StateReading(device.DevAddr, loop, now, value));
  } else if (device.DevType != LineControllerType) {
    readingTaken_(AdcReading(device.DevAddr, loop, now, value, coefficients_));
  } else {
    const std::string text = answers.lineAnswered ? DecodeLineDevice(answers.line, value).text : "";
    readingTaken_(LineDeviceReading(device.DevAddr, loop, now, value, text));
  }
}

void ReadingCycle::setCellIfDiffers(int column, int row, const std::string& text) {
  if (view_.Cell(column, row) != text) view_.SetCell(column, row, text);
}

}  // namespace loopmon
