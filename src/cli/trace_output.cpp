#include "cli/trace_output.h"

#include <atomic>
#include <chrono>

#include "cli/cli_args.h"
#include "cli/output.h"
#include "cli/records.h"
#include "common/iso_time.h"
#include "platform/store/whole_file.h"
#include "platform/system/console.h"
#include "traffic/trace_text.h"
#include "transport/bus_trace.h"

namespace loopmon::cli {

namespace {

// Often enough that a trace on a terminal follows the bus as it goes.
constexpr auto PumpPeriod = std::chrono::milliseconds(20);

std::atomic<bool> standardErrorShared{false};

const char* routeName(TraceRoute route) {
  switch (route) {
    case TraceRoute::Serial:
      return "serial";
    case TraceRoute::Remote:
      return "remote";
    case TraceRoute::Driver:
      return "driver";
    case TraceRoute::Simulator:
      return "simulator";
    case TraceRoute::SimulatorWorker:
      break;
  }
  return "simulator-worker";
}

Field milliseconds(const std::optional<double>& ms) {
  if (!ms) return Field::empty();
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", *ms);
  return Field::number(text, *ms);
}

Field count(uint64_t value) {
  return {std::to_string(value), value};
}

// The times to the microsecond, as the trace measures them; a text that is
// not UTF-8 (none should be) must not stop the trace halfway.
JsonStyle traceStyle() {
  JsonStyle style;
  for (const char* column : {"first_ms", "last_ms", "waited_ms", "median_ms", "worst_ms"}) {
    style.fixed.emplace_back(column, 3);
  }
  style.replaceInvalid = true;
  return style;
}

std::vector<Field> jsonRecord(const TraceRecord& r) {
  const TraceLine line = describeRecord(r);
  const bool inRequest = r.attempt != 0;
  const std::chrono::system_clock::time_point wall(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::microseconds(r.wallMicros)));
  return {Field::textOf(IsoTime(wall)),
          Field::number(line.address),
          count(r.exchange),
          inRequest ? Field::number(r.attempt) : Field::empty(),
          inRequest ? Field::number(r.attempts) : Field::empty(),
          Field::textOf(routeName(r.route)),
          Field::textOf(line.request),
          Field::textOf(outcomeKey(r.outcome)),
          Field::flag(r.accepted),
          milliseconds(msAfterRequest(r, r.firstByteMicros)),
          milliseconds(msAfterRequest(r, r.lastByteMicros)),
          milliseconds(msAfterRequest(r, r.readEndMicros)),
          line.answer.empty() ? Field::empty() : Field::textOf(line.answer),
          Field::textOf(line.meaning)};
}

const std::vector<std::string> RecordColumns{
    "time",    "addr",     "exchange", "try",     "tries",     "route",  "request",
    "outcome", "accepted", "first_ms", "last_ms", "waited_ms", "answer", "meaning"};
const std::vector<std::string> StatsColumns{"addr",      "requests", "answers", "silences",
                                            "damaged",   "unsent",   "retries", "failed",
                                            "median_ms", "worst_ms"};

std::string droppedJson(uint64_t dropped) {
  return JsonText(Json{{"dropped", dropped}});
}

// Splits "--opt=value" and "--opt value".
std::optional<std::string> valueOf(std::vector<std::string>& words, size_t& i,
                                   const std::string& name) {
  const std::string& word = words[i];
  if (word.rfind(name + "=", 0) == 0) return word.substr(name.size() + 1);
  if (word != name) return std::nullopt;
  if (i + 1 == words.size()) throw UsageError(name + " needs a value");
  words.erase(words.begin() + static_cast<std::ptrdiff_t>(i));
  return words[i];
}

}  // namespace

TraceOptions takeTraceOptions(std::vector<std::string>& words) {
  TraceOptions options;
  bool formatGiven = false;
  for (size_t i = 0; i < words.size();) {
    const std::string& word = words[i];
    if (word == "--trace") {
      options.trace = true;
    } else if (word.rfind("--trace=", 0) == 0) {
      options.trace = true;
      options.file = word.substr(8);
      if (options.file.empty()) throw UsageError("--trace=FILE needs a file name");
    } else if (word == "--stats") {
      options.stats = true;
    } else if (const auto format = valueOf(words, i, "--trace-format")) {
      if (*format == "text") {
        options.format = TraceFormat::Text;
      } else if (*format == "json") {
        options.format = TraceFormat::Json;
      } else if (*format == "pcapng") {
        options.format = TraceFormat::Capture;
      } else {
        throw UsageError("--trace-format is text, json or pcapng, not '" + *format + "'");
      }
      formatGiven = true;
    } else {
      ++i;
      continue;
    }
    words.erase(words.begin() + static_cast<std::ptrdiff_t>(i));
  }
  if (formatGiven && !options.any()) throw UsageError("--trace-format needs --trace or --stats");
  // A capture is no text for a terminal, and it is written whole at the end.
  if (options.format == TraceFormat::Capture && options.file.empty())
    throw UsageError("--trace-format pcapng needs --trace=FILE");
  return options;
}

bool traceSharesStandardError() {
  return standardErrorShared.load();
}

TraceOutput::TraceOutput(const TraceOptions& options) : options_(options) {
  if (!options_.trace) return;
  if (options_.format == TraceFormat::Capture) {
    checkWritable("--trace", options_.file);
    capture_.emplace(std::string("loopctl ") + LOOPMON_VERSION);
    return;
  }
  if (options_.file.empty()) {
    out_ = stderr;
    standardErrorShared = true;
    return;
  }
  try {
    out_ = openOwnFileForWriting(options_.file);
  } catch (const FileError& error) {
    throw CliError("cannot write " + options_.file + ": " + error.reason());
  }
}

TraceOutput::~TraceOutput() {
  try {
    finish();
  } catch (const CliError& error) {
    printLine(stderr, std::string("loopctl: ") + error.what());
  }
}

void TraceOutput::finish() {
  if (finished_) return;
  finished_ = true;
  pump_.reset();
  // A command that ended before the bus was used has nothing to count.
  if (options_.stats && (!counters_.devices().empty() || dropped_ != 0)) {
    writeStats();
  } else if (dropped_ != 0 && out_ != stderr) {
    // Said in the file as it happened; said here too, where it is seen.
    printLine(stderr, droppedText(dropped_));
  }
  standardErrorShared = false;
  if (capture_) {
    capture_->addDropped(dropped_);
    try {
      replaceWholeFile(options_.file, capture_->content());
    } catch (const FileError& error) {
      throw CliError("the capture could not be written: " + std::string(error.what()));
    }
  }
  if (out_ && out_ != stderr) {
    const bool failed = std::ferror(out_) != 0;
    if (std::fclose(out_) != 0 || failed)
      printLine(stderr, "loopctl: the trace could not be written whole to " + options_.file);
  }
}

void TraceOutput::attach(TRSSession& session) {
  // One reader at a time: a session opened after another takes over.
  pump_.reset();
  pump_ = std::make_unique<TracePump>(
      session.Trace().start(), PumpPeriod,
      [this](const std::vector<TraceRecord>& batch, uint64_t dropped) { write(batch, dropped); });
}

void TraceOutput::write(const std::vector<TraceRecord>& batch, uint64_t dropped) {
  dropped_ += dropped;
  for (const TraceRecord& record : batch) counters_.add(record);
  if (capture_) {
    for (const TraceRecord& record : batch) capture_->add(record);
    return;
  }
  if (!out_) return;
  if (dropped != 0) {
    printLine(out_,
              (options_.format == TraceFormat::Json) ? droppedJson(dropped) : droppedText(dropped));
  }
  RecordWriter json(out_, RecordFormat::Json, RecordColumns, '.', traceStyle());
  for (const TraceRecord& record : batch) {
    if (options_.format == TraceFormat::Json) {
      json.record(jsonRecord(record));
    } else {
      writeText(out_, traceText(record) + "\n");
    }
  }
  std::fflush(out_);
}

void TraceOutput::writeStats() {
  if (options_.format == TraceFormat::Json) {
    RecordWriter json(stderr, RecordFormat::Json, StatsColumns, '.', traceStyle());
    for (const auto& [address, d] : counters_.devices()) {
      json.record({Field::number(address), count(d.requests), count(d.answers), count(d.silences),
                   count(d.damaged), count(d.unsent), count(d.retries), count(d.failed),
                   milliseconds(d.medianAnswerMs()), milliseconds(d.worstAnswerMs())});
    }
    if (dropped_ != 0) printLine(stderr, droppedJson(dropped_));
    return;
  }
  for (const std::string& line : countersTable(counters_)) printLine(stderr, line);
  if (dropped_ != 0) printLine(stderr, droppedText(dropped_) + "; the counters leave them out");
}

}  // namespace loopmon::cli
