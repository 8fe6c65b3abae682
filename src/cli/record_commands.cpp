#include "cli/record_commands.h"

#include <chrono>
#include <filesystem>

#include "cli/cli_args.h"
#include "cli/help.h"
#include "cli/interrupt.h"
#include "cli/output.h"
#include "cli/progress.h"
#include "common/number_text.h"
#include "common/translation.h"
#include "loops/coeffs.h"
#include "loops/loop_history.h"
#include "platform/system/console.h"
#include "platform/system/locale_info.h"
#include "record/compare.h"
#include "record/json.h"
#include "record/report.h"
#include "record/survey.h"
#include "search/search_procedure.h"
#include "session/bus_runner.h"

namespace loopmon::cli {
namespace {

// The survey's progress on standard error: the address probed, then the
// device read; a line controller's messages in between.
class ConsoleSurveyObserver : public SurveyObserver {
 public:
  void Probing(int index, int count, uint8_t address) override {
    progress_.show(ScanTitle + std::to_string(address) + " (" + std::to_string(index) + "/" +
                   std::to_string(count) + ")");
  }
  void Reading(int index, int count, const DeviceRecord& device) override {
    progress_.show(
        trWith("device %s of %s: ", {std::to_string(index), std::to_string(count)}) +
        DeviceDescription(device.addr, device.name, device.version, userDecimalSeparator()));
  }
  void Message(uint8_t address, int loop, const std::string& text) override {
    progress_.end();
    printLine(
        stderr,
        trWith("address %s loop %s: ", {std::to_string(address), std::to_string(loop)}) + text);
  }
  void end() { progress_.end(); }

 private:
  ProgressLine progress_{stderr};
};

double tolerancePercent(const Arguments& args) {
  if (!args.has("--tolerance")) return DefaultTolerancePercent;
  const std::string text = args.required("--tolerance");
  double percent = 0;
  try {
    percent = StrToFloat(withDecimalSeparator(text, '.'), '.');
  } catch (const ConversionError&) {
    throw UsageError(trWith("%s: '%s' is not a number", {"--tolerance", text}));
  }
  if (!(percent >= 0 && percent <= 1000)) {
    throw UsageError(trWith("--tolerance: %s is outside 0..1000", {text}));
  }
  return percent;
}

}  // namespace

int survey(const std::vector<std::string>& words, const BusOpener& open) {
  const Arguments args(words, {"--port", "--addr", "--site", "--out"}, {"--quick"});
  if (!args.plain().empty())
    throw UsageError(trWith("%s takes no words: %s", {"survey", args.plain().front()}));
  const std::string addressText = args.value("--addr", "1-127");
  SurveyPlan plan{ScanOrder(parseNumberList(addressText, 1, 127, "--addr"))};
  plan.quick = args.has("--quick");
  const std::string out = args.value("--out", "");
  if (args.has("--out")) checkWritable("--out", out);
  const std::string site = args.value("--site", "");
  // The record is UTF-8 throughout; a name typed in another encoding would
  // make the record unreadable, or be taken for other letters.
  if (!IsJsonText(site)) {
    throw UsageError(
        tr("--site: the name is not UTF-8 text (set the terminal's encoding to UTF-8)"));
  }
  const std::string port = args.required("--port");
  auto session = open(port);

  const auto started = std::chrono::steady_clock::now();
  SiteRecord record{
      site, IsoTime(std::chrono::system_clock::now()), port, "loopctl", LOOPMON_VERSION, {}};
  ConsoleSurveyObserver observer;
  InlineBus bus(*session);
  const CoefficientsStore store;
  Survey survey(bus, store, observer, std::move(plan));
  const InterruptGuard interrupt;
  for (bool more = true; more && InterruptGuard::requested() == 0;) {
    survey.Step([&more](bool next) { more = next; });
    checkLine(*session);
  }
  observer.end();
  if (InterruptGuard::requested() != 0) {
    printText(stderr, "%s", tr("survey interrupted: nothing written\n"));
    return InterruptGuard::exitStatus();
  }
  record.devices = survey.Devices();
  if (record.devices.empty()) {
    printText(stderr, tr("loopctl: no device answers at %s: nothing written\n"),
              addressText.c_str());
    return ExitNothingFound;
  }
  const std::string json = RecordJson(record);
  if (out.empty()) {
    writeText(stdout, json);
    std::fflush(stdout);
  } else {
    SaveWholeFile(out, json);
  }
  size_t loops = 0;
  for (const DeviceRecord& device : record.devices) loops += device.loops.size();
  const std::string seconds = FormatFixed(
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), 1);
  printText(stderr, tr("%zu devices, %zu loops surveyed in %s s\n"), record.devices.size(), loops,
            seconds.c_str());
  return ExitSuccess;
}

int compare(const std::vector<std::string>& words) {
  const Arguments args(words, {"--tolerance"}, {"--json"});
  if (args.plain().size() != 2)
    throw UsageError(tr("compare takes two records: OLD.json NEW.json"));
  const double tolerance = tolerancePercent(args);
  const SiteRecord before = LoadRecord(args.plain()[0]);
  const SiteRecord after = LoadRecord(args.plain()[1]);
  const std::vector<RecordChange> changes = CompareRecords(before, after, tolerance);
  const char separator = userDecimalSeparator();
  for (const RecordChange& change : changes) {
    printLine(stdout, args.has("--json") ? ChangeJson(change) : ChangeLine(change, separator));
  }
  return changes.empty() ? ExitSuccess : ExitChanged;
}

int report(const std::vector<std::string>& words) {
  const Arguments args(words, {"--compare", "--html", "--tolerance"}, {});
  if (args.plain().size() != 1) throw UsageError(tr("report takes one record: FILE.json"));
  const std::string html = args.required("--html");
  const double tolerance = tolerancePercent(args);
  checkWritable("--html", html);
  const SiteRecord record = LoadRecord(args.plain()[0]);
  const char separator = userDecimalSeparator();
  if (!args.has("--compare")) {
    SaveWholeFile(html, ReportHtml(record, nullptr, tolerance, separator));
    return ExitSuccess;
  }
  const SiteRecord before = LoadRecord(args.required("--compare"));
  const std::vector<RecordChange> changes = CompareRecords(before, record, tolerance);
  const ReportBaseline baseline{before, changes};
  SaveWholeFile(html, ReportHtml(record, &baseline, tolerance, separator));
  return ExitSuccess;
}

}  // namespace loopmon::cli
