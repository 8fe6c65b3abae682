#include "cli/record_commands.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "cli/cli_args.h"
#include "cli/help.h"
#include "cli/interrupt.h"
#include "cli/output.h"
#include "cli/progress.h"
#include "common/number_text.h"
#include "common/sha256.h"
#include "common/translation.h"
#include "loops/coeffs.h"
#include "loops/loop_history.h"
#include "platform/system/console.h"
#include "platform/system/locale_info.h"
#include "platform/system/utf8.h"
#include "record/compare.h"
#include "record/history.h"
#include "record/json.h"
#include "record/report.h"
#include "record/site_index.h"
#include "record/survey.h"
#include "search/search_procedure.h"
#include "session/bus_runner.h"
#include "session/device_names.h"

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

// "6m": a number of days, weeks, months or years (1..9999).
int64_t durationSeconds(const std::string& option, const std::string& text) {
  const double units[] = {86400, 7 * 86400, SecondsPerMonth, 12 * SecondsPerMonth};
  const size_t unit = text.empty() ? std::string::npos : std::string("dwmy").find(text.back());
  const std::string digits = text.substr(0, text.empty() ? 0 : text.size() - 1);
  if (unit == std::string::npos || digits.empty() || digits.size() > 4 ||
      digits.find_first_not_of("0123456789") != std::string::npos || std::stoi(digits) == 0) {
    throw UsageError(trWith("%s: '%s' is not a time such as 180d, 26w, 6m or 1y", {option, text}));
  }
  return static_cast<int64_t>(std::stoi(digits) * units[unit]);
}

// Every --band TYPE:LOW..HIGH, kilo-ohms with "." or ",".
std::map<uint8_t, Band> givenBands(const Arguments& args) {
  std::map<uint8_t, Band> bands;
  for (const std::string& text : args.all("--band")) {
    const size_t colon = text.find(':');
    const size_t dots = text.find("..", colon == std::string::npos ? 0 : colon);
    if (colon == std::string::npos || dots == std::string::npos) {
      throw UsageError(trWith("--band: '%s' is not TYPE:LOW..HIGH", {text}));
    }
    const auto type = static_cast<uint8_t>(parseNumber(text.substr(0, colon), 0, 255, "--band"));
    Band band;
    try {
      band.low =
          StrToFloat(withDecimalSeparator(text.substr(colon + 1, dots - colon - 1), '.'), '.');
      band.high = StrToFloat(withDecimalSeparator(text.substr(dots + 2), '.'), '.');
    } catch (const ConversionError&) {
      throw UsageError(trWith("--band: '%s' is not TYPE:LOW..HIGH", {text}));
    }
    if (!(band.low <= band.high)) {
      throw UsageError(trWith("--band: '%s' is not TYPE:LOW..HIGH", {text}));
    }
    bands[type] = band;
  }
  return bands;
}

// The records of `paths`, each file that is none named on standard error.
RecordSet recordsOf(const std::vector<std::string>& paths, bool required = true) {
  RecordSet set = LoadRecords(paths);
  for (const std::string& skipped : set.skipped) {
    printLine(stderr, "loopctl: " + trWith("skipped %s", {TerminalText(skipped)}));
  }
  if (required && set.records.empty()) throw CliError(tr("no site record found"));
  return set;
}

// The site's records of `folder` up to `record` (at `path`), which is the
// last of them whether it lies in the folder or not.
std::vector<FoundRecord> siteRecordsUpTo(const std::string& folder, const std::string& path,
                                         const SiteRecord& record) {
  const std::optional<RecordInstant> time = RecordTimeOf(record.time);
  if (!time) throw CliError(path + ": \"time\" is no ISO 8601 time with its offset");
  std::vector<FoundRecord> records;
  for (FoundRecord& found : recordsOf({folder}, false).records) {
    if (found.record.site != record.site || found.time.seconds > time->seconds) continue;
    if (found.time.seconds == time->seconds && found.record == record) continue;
    records.push_back(std::move(found));
  }
  records.push_back({path, record, *time});
  return records;
}

std::filesystem::path wholePath(const std::string& path) {
  std::error_code error;
  return std::filesystem::absolute(pathOf(path), error).lexically_normal();
}

// The address of `target` from the folder of `page`, for a link: relative,
// "/" between folders, every byte but letters, digits, "-._~/" escaped.
std::string linkFrom(const std::string& page, const std::string& target) {
  const std::u8string relative =
      wholePath(target).lexically_relative(wholePath(page).parent_path()).generic_u8string();
  std::string link;
  for (const char8_t byte : relative) {
    const auto c = static_cast<unsigned char>(byte);
    if (std::isalnum(c) != 0 && c < 0x80) {
      link += static_cast<char>(c);
    } else if (std::string_view("-._~/").find(static_cast<char>(c)) != std::string_view::npos) {
      link += static_cast<char>(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      link += escaped;
    }
  }
  return link;
}

// A name for the page of `record` in the folder of `index`: the record's own,
// numbered where another page has it.
std::string pageBeside(const std::string& index, const std::string& record,
                       std::set<std::filesystem::path>& taken) {
  const std::filesystem::path folder = wholePath(index).parent_path();
  const std::string stem = utf8Of(pathOf(record).stem());
  for (int n = 1;; ++n) {
    const std::filesystem::path page =
        folder / pathOf(stem + (n > 1 ? "-" + std::to_string(n) : "") + ".html");
    if (taken.insert(page).second) return utf8Of(page);
  }
}

// The report of a site's latest record with its history from every record of
// the site found, as `report --history` writes it.
void writeLatestReport(const std::string& page, const SiteSummary& site,
                       const std::vector<FoundRecord>& records, const HistoryOptions& options,
                       char separator) {
  std::vector<FoundRecord> siteRecords;
  for (const FoundRecord& found : records) {
    if (found.record.site == site.site) siteRecords.push_back(found);
  }
  // The latest record goes last, whichever of several at its time it is.
  const auto latest = std::ranges::find(siteRecords, site.latestPath, &FoundRecord::path);
  std::rotate(latest, latest + 1, siteRecords.end());
  const std::string digest = Sha256Hex(ReadFileBytes(site.latestPath));
  const std::vector<LoopSeries> loops = LoopHistories(siteRecords, options);
  const ReportHistory history{loops, static_cast<int>(siteRecords.size()),
                              options.nextVisitSeconds};
  SaveWholeFile(page, ReportHtml(siteRecords.back().record, digest, nullptr,
                                 options.tolerancePercent, separator, &history));
}

std::string dateOf(const LoopSeries& series) {
  return series.leaves ? IsoDateOf(*series.leaves, series.offsetMinutes) : "";
}

}  // namespace

int survey(const Arguments& args, const BusOpener& open) {
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

int compare(const Arguments& args) {
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

int report(const Arguments& args) {
  if (args.plain().size() != 1) throw UsageError(tr("report takes one record: FILE.json"));
  const std::string html = args.required("--html");
  const double tolerance = tolerancePercent(args);
  checkWritable("--html", html);
  std::string bytes;
  const SiteRecord record = LoadRecord(args.plain()[0], bytes);
  const std::string digest = Sha256Hex(bytes);
  const char separator = userDecimalSeparator();
  std::vector<LoopSeries> loops;
  std::optional<ReportHistory> history;
  if (args.has("--history")) {
    HistoryOptions options;
    options.tolerancePercent = tolerance;
    const std::vector<FoundRecord> records =
        siteRecordsUpTo(args.required("--history"), args.plain()[0], record);
    loops = LoopHistories(records, options);
    history.emplace(
        ReportHistory{loops, static_cast<int>(records.size()), options.nextVisitSeconds});
  }
  const ReportHistory* shownHistory = history ? &*history : nullptr;
  if (!args.has("--compare")) {
    SaveWholeFile(html, ReportHtml(record, digest, nullptr, tolerance, separator, shownHistory));
    return ExitSuccess;
  }
  const SiteRecord before = LoadRecord(args.required("--compare"));
  const std::vector<RecordChange> changes = CompareRecords(before, record, tolerance);
  const ReportBaseline baseline{before, changes};
  SaveWholeFile(html, ReportHtml(record, digest, &baseline, tolerance, separator, shownHistory));
  return ExitSuccess;
}

int history(const Arguments& args) {
  if (args.plain().empty()) throw UsageError(tr("history takes folders or records: DIR|FILE..."));
  HistoryOptions options;
  options.tolerancePercent = tolerancePercent(args);
  options.bands = givenBands(args);
  options.nextVisitSeconds = durationSeconds("--next", args.value("--next", "6m"));
  const RecordSet set = recordsOf(args.plain());
  const std::vector<LoopSeries> loops = LoopHistories(set.records, options);
  const char separator = userDecimalSeparator();
  if (args.has("--json")) {
    for (const LoopSeries& series : loops) {
      Json kohm = Json::array();
      for (const LoopPoint& point : series.points) kohm.push_back(point.kohm);
      const auto optional = [](const std::optional<double>& value) {
        return value ? Json(*value) : Json();
      };
      const Json line{{"site", series.site},
                      {"addr", series.addr},
                      {"type", series.type},
                      {"loop", series.loop},
                      {"visits", series.points.size()},
                      {"kohm", kohm},
                      {"band", {series.band.low, series.band.high}},
                      {"slope", optional(series.slope)},
                      {"slope_error", optional(series.slopeError)},
                      {"leaves_band", series.leaves ? Json(dateOf(series)) : Json()},
                      {"before_next_visit", series.beforeNextVisit}};
      printLine(stdout, JsonText(line));
    }
    return ExitSuccess;
  }
  printLine(stdout, tr("site\taddr\ttype\tloop\tvisits\tkOhm\tkOhm/month\tleaves band"));
  for (const LoopSeries& series : loops) {
    std::string values;
    for (const LoopPoint& point : series.points) {
      values += (values.empty() ? "" : " ") + FormatFixed(point.kohm, 1, separator);
    }
    std::string slope = "-";
    if (series.slope) {
      slope = (*series.slope >= 0 ? "+" : "") + FormatFixed(*series.slope, 4, separator);
      if (series.slopeError) slope += " ± " + FormatFixed(*series.slopeError, 4, separator);
    }
    std::string leaves = series.leaves ? dateOf(series) : "-";
    if (series.beforeNextVisit) leaves += " !";
    printLine(stdout, TableText(series.site) + "\t" + std::to_string(series.addr) + "\t" +
                          std::to_string(series.type) + "\t" + std::to_string(series.loop) + "\t" +
                          std::to_string(series.points.size()) + "\t" + values + "\t" + slope +
                          "\t" + leaves);
  }
  return ExitSuccess;
}

int verify(const Arguments& args) {
  if (args.plain().size() != 1) throw UsageError(tr("verify takes one record: FILE.json"));
  const std::string recordPath = args.plain()[0];
  const std::string pagePath = args.value("--html", ReportPathFor(recordPath));
  const std::string bytes = ReadFileBytes(recordPath);
  const std::optional<PageCheck> check = CheckPage(ReadFileBytes(pagePath), bytes);
  if (!check) throw CliError(trWith("%s: no record's certificate in it", {pagePath}));
  const std::string page = TerminalText(pagePath);
  const std::string record = TerminalText(recordPath);
  printLine(stdout, "SHA-256 " + check->recordDigest + "  " + record);
  if (!check->seal.intact) printLine(stdout, trWith("%s: changed since it was written", {page}));
  if (!check->recordChanged) {
    printLine(stdout, trWith("%s: the record the page was written for, unchanged", {record}));
  } else if (check->otherRecord) {
    printLine(stdout, trWith("%s: written for another record (%s, %s)",
                             {page, TerminalText(check->seal.site),
                              TerminalText(LocalTimeText(check->seal.time))}));
  } else {
    printLine(stdout, trWith("%s: changed since the page was written (on the page SHA-256 %s)",
                             {record, TerminalText(check->seal.recordDigest)}));
  }
  return check->belong() ? ExitSuccess : ExitChanged;
}

int sites(const Arguments& args) {
  if (args.plain().empty()) throw UsageError(tr("sites takes folders of records: DIR..."));
  HistoryOptions options;
  options.tolerancePercent = tolerancePercent(args);
  options.bands = givenBands(args);
  options.nextVisitSeconds = durationSeconds("--every", args.value("--every", "6m"));
  const std::string html = args.value("--html", "");
  if (args.has("--html")) checkWritable("--html", html);
  const RecordSet set = recordsOf(args.plain());
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  const std::vector<SiteSummary> summaries = SiteSummaries(set.records, options, now);
  const char separator = userDecimalSeparator();
  printLine(
      stdout,
      tr("site\tlast visit\tvisits\tdevices\tloops\tworst loops\tleave band before next visit"));
  for (const SiteSummary& site : summaries) {
    std::string worst;
    for (size_t i = 0; i < site.worst.size() && i < 5; ++i) {
      const WorstLoop& loop = site.worst[i];
      worst += (i == 0 ? "" : ", ") + std::to_string(loop.addr) + "/" + std::to_string(loop.loop) +
               " " +
               (loop.condition != LoopCondition::Normal
                    ? tr(ConditionName(loop.condition))
                    : FormatFixed(loop.kohm.value_or(0), 1, separator) + " " + tr("kOhm"));
    }
    if (site.worst.size() > 5)
      worst += trWith(", %s more", {std::to_string(site.worst.size() - 5)});
    std::string due;
    for (const LoopSeries& loop : site.due) due += (due.empty() ? "" : ", ") + DueLoopText(loop);
    std::string visit = IsoDateOf(site.lastVisit.seconds, site.lastVisit.offsetMinutes);
    if (site.overdue) visit += " " + std::string(tr("overdue"));
    printLine(stdout, TableText(site.site) + "\t" + visit + "\t" + std::to_string(site.visits) +
                          "\t" + std::to_string(site.devices) + "\t" +
                          std::to_string(site.counts.loops) + "\t" + worst + "\t" + due);
  }
  if (html.empty()) return ExitSuccess;
  // The pages beside the latest records are never written over, and no two
  // sites' pages written beside the index share a name.
  std::set<std::filesystem::path> taken;
  for (const SiteSummary& site : summaries) taken.insert(wholePath(ReportPathFor(site.latestPath)));
  std::vector<std::string> links;
  for (const SiteSummary& site : summaries) {
    std::string page = ReportPathFor(site.latestPath);
    std::error_code error;
    if (!std::filesystem::is_regular_file(pathOf(page), error)) {
      page = pageBeside(html, site.latestPath, taken);
      writeLatestReport(page, site, set.records, options, separator);
    }
    links.push_back(linkFrom(html, page));
  }
  SaveWholeFile(html, SitesHtml(summaries, links, separator));
  return ExitSuccess;
}

}  // namespace loopmon::cli
