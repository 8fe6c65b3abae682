#include "cli/read_command.h"

#include <chrono>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/bus_opening.h"
#include "cli/console_views.h"
#include "cli/help.h"
#include "cli/interrupt.h"
#include "cli/output.h"
#include "cli/read_summary.h"
#include "cli/records.h"
#include "cli/scan_command.h"
#include "common/iso_time.h"
#include "common/number_text.h"
#include "common/translation.h"
#include "loops/coeffs.h"
#include "loops/loop_layout.h"
#include "loops/reading_cycle.h"
#include "platform/system/locale_info.h"
#include "record/site_record.h"
#include "search/search_procedure.h"
#include "session/bus_runner.h"

namespace loopmon::cli {
namespace {

struct ReadRequest {
  PortChoice port;
  uint8_t addr = 0;
  std::set<int> skipped;
  bool adcView = true;
  bool allRows = false;
  bool periodic = false;
  int periodSeconds = 1;
  // 0: until interrupted.
  int passes = 0;
  RecordFormat format = RecordFormat::Text;
  bool summary = false;
};

ReadRequest parseRead(const Arguments& args) {
  if (!args.plain().empty())
    throw UsageError(trWith("%s takes no words: %s", {"read", args.plain().front()}));
  ReadRequest request;
  request.port = parsePort(args.required("--port"));
  request.addr = static_cast<uint8_t>(parseNumber(args.required("--addr"), 1, 127, "--addr"));
  if (args.has("--skip")) request.skipped = parseLoopList(args.required("--skip"));
  request.periodic = args.has("--period");
  if (args.has("--passes") && !request.periodic) throw UsageError(tr("--passes needs --period"));
  if (request.periodic)
    request.periodSeconds = parseNumber(args.required("--period"), 1, 30, "--period");
  if (args.has("--passes"))
    request.passes = parseNumber(args.required("--passes"), 1, 1'000'000, "--passes");
  if (args.has("--json") && args.has("--csv"))
    throw UsageError(trWith("%s and %s exclude each other", {"--json", "--csv"}));
  request.format = args.has("--json")  ? RecordFormat::Json
                   : args.has("--csv") ? RecordFormat::Csv
                                       : RecordFormat::Text;
  request.summary = args.has("--summary");
  if (request.summary && request.format == RecordFormat::Csv)
    throw UsageError(trWith("%s and %s exclude each other", {"--summary", "--csv"}));
  request.adcView = !args.has("--state");
  request.allRows = args.has("--all-rows");
  return request;
}

struct IdentifiedDevice {
  SelectedDevice device;
  // The device's description line, as scan prints it.
  std::string line;
};

IdentifiedDevice identify(TRSSession& session, InlineBus& bus, uint8_t addr) {
  ConsoleSearchView identified;
  SearchProcedure search(identified, &bus);
  search.IdentifyAddress(addr);
  checkLine(session);
  if (identified.lines().empty()) {
    throw CliError(trWith("no device answers at address %s", {std::to_string(addr)}));
  }
  return {{addr, static_cast<uint8_t>(session.GetDeviceType(addr)), session.DeviceVersion(addr)},
          identified.lines().front()};
}

// One loop's reading as a record: the ADC reading and the kilo-ohms stay
// numbers, and whatever text the table shows instead ("Обрыв", "КЗ", "откл.",
// a state, "false" for a loop that did not answer) has a column of its own.
std::vector<Field> loopRecord(const LoopReading& reading, char separator) {
  LoopRecord values = LoopRecordOf(reading, reading);
  // The state view's text stands where the ADC view's would.
  if (reading.kind == ReadingKind::State) {
    values.adc.reset();
    values.kohm.reset();
    values.text = values.state;
  }
  return {Field::textOf(IsoTime(std::chrono::system_clock::now())),
          Field::number(reading.address),
          Field::number(reading.loop),
          values.adc ? Field::number(*values.adc) : Field::empty(),
          values.kohm ? Field::number(FormatFixed(*values.kohm, 1, separator), *values.kohm)
                      : Field::empty(),
          values.text ? Field::textOf(*values.text) : Field::empty()};
}

// What the reading shows: the table's rows as the window has them, or one
// record per reading taken.
class ReadOutput {
 public:
  ReadOutput(RecordFormat format, const ConsoleLoopTable& table, const std::string& deviceLine)
      : format_(format),
        separator_(userDecimalSeparator()),
        writer_(stdout, format, columnsOf(format, table, deviceLine), separator_) {
    writer_.heading();
  }

  void loop(const ConsoleLoopTable& table, int loop, const std::optional<LoopReading>& taken) {
    if (format_ != RecordFormat::Text) {
      if (taken) writer_.record(loopRecord(*taken, separator_));
      return;
    }
    std::vector<Field> cells;
    for (int column = 0; column < table.Columns(); ++column)
      cells.push_back(Field::textOf(table.Cell(column, loop)));
    writer_.record(cells);
  }

  void summary(const LoopHistory& history) {
    if (format_ == RecordFormat::Text) std::printf("\n");
    PrintSummary(stdout, history, format_ == RecordFormat::Json);
  }

 private:
  // The text table is headed by the device's line; it is printed before the
  // heading, as the writer is made.
  static std::vector<std::string> columnsOf(RecordFormat format, const ConsoleLoopTable& table,
                                            const std::string& deviceLine) {
    if (format != RecordFormat::Text) return {"time", "addr", "loop", "adc", "kohm", "text"};
    printLine(stdout, deviceLine);
    std::vector<std::string> columns;
    for (int column = 0; column < table.Columns(); ++column)
      columns.push_back(table.Cell(column, 0));
    return columns;
  }

  RecordFormat format_;
  char separator_;
  RecordWriter writer_;
};

// The wait between passes in short steps, so Ctrl-C ends it at once; false
// when it did.
bool waitForNextPass(int waitMs) {
  const auto resume = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  while (std::chrono::steady_clock::now() < resume && InterruptGuard::requested() == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return InterruptGuard::requested() == 0;
}

// The passes over the loops, until the last asked for or Ctrl-C; each loop
// shown as it is read.
void readPasses(const ReadRequest& request, TRSSession& session, ReadingCycle& cycle,
                std::optional<LoopReading>& taken, const ConsoleLoopTable& table,
                ReadOutput& output, LoopHistory& history) {
  for (int pass = 1;; ++pass) {
    TickResult result;
    do {
      const int loop = cycle.CurLoop();
      taken.reset();
      cycle.Tick([&result](TickResult tick) { result = tick; });
      checkLine(session);
      if (loop >= table.RowCount() || table.SkipMark(loop)) continue;
      if (request.summary && taken) history.Record(*taken);
      output.loop(table, loop, taken);
    } while (result.enableTimer && result.waitBeforeEnableMs == 0 &&
             InterruptGuard::requested() == 0);
    if (InterruptGuard::requested() != 0) return;
    if (!result.enableTimer || pass == request.passes) return;
    if (!waitForNextPass(result.waitBeforeEnableMs)) return;
  }
}

}  // namespace

int read(const Arguments& args, TraceOutput* trace) {
  const ReadRequest request = parseRead(args);

  auto session = openBus(request.port, trace);
  InlineBus bus(*session);
  const IdentifiedDevice identified = identify(*session, bus, request.addr);
  const LoopLayout layout = LoopLayoutFor(identified.device.DevType);
  ConsoleLoopTable table(identified.device, layout.rows, request.adcView, request.periodic,
                         request.periodSeconds);
  if (layout.markedFrom != 0 && !request.allRows) {
    for (int row = layout.markedFrom; row < table.RowCount(); ++row) table.SetSkipMark(row, true);
  }
  for (int loop : request.skipped) table.SetSkipMark(loop, true);

  const CoefficientsStore store;
  ReadingCycle cycle(table, bus, store);
  std::optional<LoopReading> taken;
  cycle.SetReadingTaken([&taken](const LoopReading& reading) { taken = reading; });
  cycle.Start();

  ReadOutput output(request.format, table, identified.line);
  const InterruptGuard interrupt;
  LoopHistory history;
  readPasses(request, *session, cycle, taken, table, output, history);
  // The summary is the point of a periodic reading ended by Ctrl-C: it comes
  // then too.
  if (request.summary) output.summary(history);
  if (InterruptGuard::requested() != 0) return InterruptGuard::exitStatus();
  return ExitSuccess;
}

}  // namespace loopmon::cli
