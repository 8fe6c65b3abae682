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

void ReadLoop(BusRunner& bus, const LoopRequestOf& request, LoopRead done) {
  const bool adcView = request.kind == ReadingKind::Adc;
  const Bytes loopRequest = LoopRequest(
      request.address, adcView ? BusCommand::LoopAdc : BusCommand::LoopState, request.loop);
  // The line controller's second request follows its loop ADC request within
  // the same exchange, as it would within one tick.
  // Set in a statement of its own: GCC 12 takes an optional made by a
  // conditional expression for one that may be destroyed unset.
  std::optional<Bytes> lineRequest;
  if (adcView && request.deviceType == LineControllerType)
    lineRequest = LoopRequest(request.address, BusCommand::LineDevice, request.loop, 1);
  auto answers = std::make_shared<LoopAnswers>();
  bus.run(
      [loopRequest, lineRequest, answers](TRSSession& session) {
        answers->loopAnswered = session.DirectRequest(loopRequest, AwaitAnswer);
        if (!answers->loopAnswered) return;
        answers->loop = session.LastAnswer();
        // Only the controller's own ADC answer is followed by the kind request.
        if (!lineRequest || !AnswerFitsRequest(loopRequest, answers->loop)) return;
        answers->lineAnswered = session.DirectRequest(*lineRequest, AwaitAnswer);
        if (answers->lineAnswered) answers->line = session.LastAnswer();
      },
      [request, answers, done = std::move(done)](std::exception_ptr error) {
        if (error) {
          done(error, {});
          return;
        }
        done(nullptr, DecodeLoopReading(request, *answers, std::chrono::system_clock::now()));
      });
}

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
  const LoopRequestOf request{device.DevAddr, device.DevType, loop,
                              view_.AdcView() ? ReadingKind::Adc : ReadingKind::State,
                              coefficients_};
  ReadLoop(bus_, request,
           [this, reading = reading_, done = std::move(done)](std::exception_ptr error,
                                                              const LoopReading& value) {
             if (reading != reading_) return;
             if (error) {
               done({.failed = true});
               std::rethrow_exception(error);
             }
             if (readingTaken_) readingTaken_(value);
             show(value);
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

void ReadingCycle::show(const LoopReading& reading) {
  // A view switched meanwhile has blanked the row; an answer of the other
  // kind has no place in it.
  if (view_.AdcView() != (reading.kind == ReadingKind::Adc)) return;
  const LoopCells cells =
      CellsOf(reading, decimalSeparator_ ? *decimalSeparator_ : userDecimalSeparator());
  // An answered ADC reading rewrites only the cells it changes; every other
  // reading writes its cells whether or not they differ.
  const bool onlyChanges = reading.answered() && reading.kind == ReadingKind::Adc;
  for (int column = 0; column < 3; ++column) {
    // The box comes up with the ADC reading shown and before its text.
    if (column == 2 && reading.message) view_.ShowMessage(*reading.message);
    const std::optional<std::string>& text = cells.columns[static_cast<size_t>(column)];
    if (!text || (onlyChanges && view_.Cell(column, reading.loop) == *text)) continue;
    view_.SetCell(column, reading.loop, *text);
  }
}

}  // namespace loopmon
