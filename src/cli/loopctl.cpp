// loopctl: the bus, the loops and the coefficients from the command line,
// through the same core as the desktop program and with its texts.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cli/check_command.h"
#include "cli/cli_args.h"
#include "cli/console_views.h"
#include "cli/help.h"
#include "cli/interrupt.h"
#include "cli/monitor_command.h"
#include "cli/output.h"
#include "cli/read_summary.h"
#include "cli/record_commands.h"
#include "cli/records.h"
#include "cli/scan_command.h"
#include "cli/trace_output.h"
#include "cli/watch_command.h"
#include "common/number_text.h"
#include "common/translation.h"
#include "loops/coeffs.h"
#include "loops/loop_decode.h"
#include "loops/loop_layout.h"
#include "loops/reading_cycle.h"
#include "platform/platform.h"
#include "platform/remote/remote_line.h"
#include "platform/serial/port_names.h"
#include "platform/store/registry.h"
#include "platform/system/console.h"
#include "platform/system/locale_info.h"
#include "record/site_record.h"
#include "search/search_procedure.h"
#include "session/bus_runner.h"
#include "session/session.h"
#include "transport/bus_state.h"

namespace loopmon::cli {
namespace {

// A port as loopctl takes it: COM1..COM4 are the session's ComPort, as the
// windows set it; a higher COM number (up to 256) and a device path are opened
// by name beside it.
struct PortChoice {
  int comPort = 1;
  std::string path;
  std::string name;
};

PortChoice parsePort(const std::string& text) {
  if (isRemoteLineName(text)) {
    std::string problem;
    if (!parseRemoteLine(text, problem)) throw UsageError(problem);
    return {1, text, text};
  }
  if (const std::optional<int> number = comPortNumber(text)) {
    const std::string name = comPortName(*number);
    if (*number <= 4) return {*number, "", name};
    return {1, name, name};
  }
  const bool comName =
      text.size() >= 3 && (text.compare(0, 3, "COM") == 0 || text.compare(0, 3, "com") == 0);
  if (comName || text.empty()) {
    throw UsageError("unknown port " + text + " (COM1..COM" + std::to_string(MaxComPort) +
                     ", a device path, or rfc2217:// or tcp://HOST:PORT)");
  }
  std::error_code error;
  if (!std::filesystem::exists(pathOf(text), error)) {
    throw CliError(trWith("unknown port %s (no such device)", {text}));
  }
  return {1, text, text};
}

// A session on the chosen port, traced from its first exchange when asked;
// outside simulator mode the port must open.
std::unique_ptr<TRSSession> openBus(const PortChoice& port, TraceOutput* trace,
                                    std::shared_ptr<OwnerDispatcher> owner = nullptr) {
  auto session = std::make_unique<TRSSession>(Platform::system(), std::move(owner));
  if (trace) trace->attach(*session);
  if (port.path.empty()) {
    session->SetComPort(port.comPort);
  } else {
    session->SetPortPath(port.path);
  }
  if (!session->Bus().Simulator.enabled && !OpenPort(session->Bus())) {
    throw CliError(DescribeOpenFailure(session->Bus()));
  }
  return session;
}

// A session on the chosen port for the watch, which opens the port itself
// and waits for one that cannot be opened yet.
std::unique_ptr<TRSSession> watchedBus(const PortChoice& port) {
  auto session = std::make_unique<TRSSession>(Platform::system());
  if (port.path.empty()) {
    session->SetComPort(port.comPort);
  } else {
    session->SetPortPath(port.path);
  }
  return session;
}

int ports(const std::vector<std::string>& words) {
  const Arguments args(words, {"--map"}, {});
  if (!args.plain().empty())
    throw UsageError(trWith("%s takes no words: %s", {"ports", args.plain().front()}));
  auto registry = openSystemRegistry();
  if (args.has("--map")) {
    const std::string mapping = args.required("--map");
    const size_t equals = mapping.find('=');
    if (equals == std::string::npos) throw UsageError(tr("--map: expected COMn=DEVICE"));
    const std::string comName = mapping.substr(0, equals);
    const std::string device = mapping.substr(equals + 1);
    // Exactly the names --port takes as COM names.
    if (!comPortNumber(comName)) {
      throw UsageError("--map: '" + comName + "' is not a COM name (COM1..COM" +
                       std::to_string(MaxComPort) + ")");
    }
    std::string problem;
    std::error_code error;
    if (isRemoteLineName(device)) {
      if (!parseRemoteLine(device, problem)) throw UsageError("--map: " + problem);
    } else if (device.empty() || !std::filesystem::exists(pathOf(device), error)) {
      throw CliError(trWith("--map: no device %s", {device}));
    }
    if (!mapPort(*registry, comName, device))
      throw CliError(tr("--map: the mapping cannot be stored"));
  }
  for (const PortEntry& entry : listPorts(*registry)) {
    std::string line = (entry.comName.empty() ? "-" : entry.comName) + "\t" + entry.devicePath;
    const std::string what = describePort(entry);
    if (!what.empty()) line += "\t" + what;
    if (!entry.stableName.empty()) line += "\t" + entry.stableName;
    printLine(stdout, line);
  }
  return 0;
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
  const auto now = std::chrono::system_clock::now();
  return {Field::textOf(isoTimestamp(now)),
          Field::number(reading.address),
          Field::number(reading.loop),
          values.adc ? Field::number(*values.adc) : Field::empty(),
          values.kohm ? Field::number(FormatFixed(*values.kohm, 1, separator), *values.kohm)
                      : Field::empty(),
          values.text ? Field::textOf(*values.text) : Field::empty()};
}

int read(const std::vector<std::string>& words, TraceOutput* trace) {
  const Arguments args(words, {"--port", "--addr", "--skip", "--period", "--passes"},
                       {"--state", "--all-rows", "--csv", "--summary", "--json"});
  if (!args.plain().empty())
    throw UsageError(trWith("%s takes no words: %s", {"read", args.plain().front()}));
  const PortChoice port = parsePort(args.required("--port"));
  const auto addr = static_cast<uint8_t>(parseNumber(args.required("--addr"), 1, 127, "--addr"));
  const std::set<int> skipped =
      args.has("--skip") ? parseLoopList(args.required("--skip")) : std::set<int>{};
  const bool periodic = args.has("--period");
  if (args.has("--passes") && !periodic) throw UsageError(tr("--passes needs --period"));
  const int periodSeconds =
      periodic ? parseNumber(args.required("--period"), 1, 30, "--period") : 1;
  // Without --passes a periodic reading runs until it is interrupted.
  const int passes =
      args.has("--passes") ? parseNumber(args.required("--passes"), 1, 1'000'000, "--passes") : 0;
  if (args.has("--json") && args.has("--csv"))
    throw UsageError(trWith("%s and %s exclude each other", {"--json", "--csv"}));
  const RecordFormat format = args.has("--json")  ? RecordFormat::Json
                              : args.has("--csv") ? RecordFormat::Csv
                                                  : RecordFormat::Text;
  const bool summary = args.has("--summary");
  if (summary && format == RecordFormat::Csv)
    throw UsageError(trWith("%s and %s exclude each other", {"--summary", "--csv"}));

  auto session = openBus(port, trace);
  ConsoleSearchView identified;
  InlineBus bus(*session);
  SearchProcedure search(identified, &bus);
  search.IdentifyAddress(addr);
  checkLine(*session);
  if (identified.lines().empty()) {
    throw CliError(trWith("no device answers at address %s", {std::to_string(addr)}));
  }

  const SelectedDevice device{addr, static_cast<uint8_t>(session->GetDeviceType(addr)),
                              session->DeviceVersion(addr)};
  const LoopLayout layout = LoopLayoutFor(device.DevType);
  ConsoleLoopTable table(device, layout.rows, !args.has("--state"), periodic, periodSeconds);
  if (layout.markedFrom != 0 && !args.has("--all-rows")) {
    for (int row = layout.markedFrom; row < table.RowCount(); ++row) table.SetSkipMark(row, true);
  }
  for (int loop : skipped) table.SetSkipMark(loop, true);

  const CoefficientsStore store;
  ReadingCycle cycle(table, bus, store);
  std::optional<LoopReading> taken;
  cycle.SetReadingTaken([&taken](const LoopReading& reading) { taken = reading; });
  cycle.Start();

  std::vector<std::string> columns{"time", "addr", "loop", "adc", "kohm", "text"};
  if (format == RecordFormat::Text) {
    printLine(stdout, identified.lines().front());
    columns.clear();
    for (int column = 0; column < table.Columns(); ++column)
      columns.push_back(table.Cell(column, 0));
  }
  const char separator = userDecimalSeparator();
  RecordWriter writer(stdout, format, columns, separator);
  writer.heading();
  const InterruptGuard interrupt;
  LoopHistory history;
  for (int pass = 1;; ++pass) {
    TickResult result;
    do {
      const int loop = cycle.CurLoop();
      taken.reset();
      cycle.Tick([&result](TickResult tick) { result = tick; });
      checkLine(*session);
      if (loop >= table.RowCount() || table.SkipMark(loop)) continue;
      if (summary && taken) history.Record(*taken);
      if (format != RecordFormat::Text) {
        if (taken) writer.record(loopRecord(*taken, separator));
        continue;
      }
      std::vector<Field> cells;
      for (int column = 0; column < table.Columns(); ++column)
        cells.push_back(Field::textOf(table.Cell(column, loop)));
      writer.record(cells);
    } while (result.enableTimer && result.waitBeforeEnableMs == 0 &&
             InterruptGuard::requested() == 0);
    if (InterruptGuard::requested() != 0) break;
    if (!result.enableTimer || pass == passes) break;
    // The wait between passes in short steps, so Ctrl-C ends it at once.
    const auto resume =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(result.waitBeforeEnableMs);
    while (std::chrono::steady_clock::now() < resume && InterruptGuard::requested() == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (InterruptGuard::requested() != 0) break;
  }
  // The summary is the point of a periodic reading ended by Ctrl-C: it comes
  // then too.
  if (summary) {
    if (format == RecordFormat::Text) std::printf("\n");
    PrintSummary(stdout, history, format == RecordFormat::Json);
  }
  if (InterruptGuard::requested() != 0) return InterruptGuard::exitStatus();
  return ExitSuccess;
}

int send(const std::vector<std::string>& words, TraceOutput* trace) {
  const Arguments args(words, {"--port"}, {});
  const PortChoice port = parsePort(args.required("--port"));
  Bytes request;
  for (const std::string& word : args.plain()) {
    request.push_back(static_cast<uint8_t>(parseNumber(word, 0, 255, "byte")));
  }
  if (request.size() < 5) {
    throw UsageError(
        tr("a request has at least 5 bytes: address, length, modifier, command, data"));
  }
  if (request.size() > MaxFrameBytes - 1) {
    throw UsageError("request too long: " + std::to_string(request.size()) +
                     " bytes, at most 254 (with the checksum a frame has 255)");
  }
  auto session = openBus(port, trace);
  if (request[FrameOffset::Address] == 0) {
    // Every device hears it and none answers: send it once, awaiting nothing,
    // instead of showing the all-zero stand-in answer the exchange keeps.
    session->DirectRequest(request, 0);
    std::printf("%s", tr("address 0 is a broadcast: nothing is read back\n"));
    return 0;
  }
  if (!session->DirectRequest(request, 1)) {
    checkLine(*session);
    throw CliError(trWith("no answer from address %s", {std::to_string(request[0])}));
  }
  const Bytes& answer = session->LastAnswer();
  printLine(stdout, frameHex(answer));
  std::string data;
  // Appended piece by piece: GCC 12 warns falsely of a huge copy in " " + text.
  for (size_t i = 3; i + 1 < answer.size(); ++i) data.append(" ").append(std::to_string(answer[i]));
  printText(stdout, "address %d, length %d, code %d, data%s, checksum %d\n", answer[0], answer[1],
            answer[2], data.c_str(), answer.back());
  return 0;
}

void printSection(const std::string& section) {
  printLine(stdout, "[" + section + "]");
}

void printCoefficients(const Coefficients& coefficients) {
  printLine(stdout, "a=" + FloatToStr(coefficients.a));
  printLine(stdout, "b=" + FloatToStr(coefficients.b));
}

int coeffs(const std::vector<std::string>& words) {
  const Arguments args(words, {"--type", "--version"}, {});
  if (!args.plain().empty())
    throw UsageError(trWith("%s takes no words: %s", {"coeffs", args.plain().front()}));
  const auto type = static_cast<uint8_t>(parseNumber(args.required("--type"), 0, 255, "--type"));
  const auto version = static_cast<uint8_t>(parseDeviceVersion(args.required("--version")));
  const CoefficientsStore store;
  const Coefficients coefficients = store.Lookup(type, version);
  const auto points = store.LoadPoints(type, version);
  // The built-in table's 0 and 0 for other types would read every loop as
  // 0.0 kilo-ohms; a script asking for them is better told.
  if (!points && coefficients.a == 0 && coefficients.b == 0) {
    throw CliError("type " + std::to_string(type) +
                   " has no built-in coefficients and no section " +
                   CoefficientsSection(type, version) + " in " + store.path());
  }
  printSection(CoefficientsSection(type, version));
  if (points) {
    for (const auto& [key, text] :
         {std::pair{"ACP1", points->ACP1}, std::pair{"ACP2", points->ACP2},
          std::pair{"R1", points->R1}, std::pair{"R2", points->R2}}) {
      printLine(stdout, key + ("=" + text));
    }
  } else {
    printLine(stdout, "; built-in");
  }
  printCoefficients(coefficients);
  return 0;
}

int calibrate(const std::vector<std::string>& words) {
  const Arguments args(words, {"--type", "--version", "--r1", "--acp1", "--r2", "--acp2"}, {});
  if (!args.plain().empty())
    throw UsageError(trWith("%s takes no words: %s", {"calibrate", args.plain().front()}));
  if (args.has("--type") != args.has("--version")) {
    throw UsageError(tr("--type and --version go together"));
  }
  // The resistances are stored as the dialog stores them: with the locale's
  // separator, whichever of the two was typed.
  const char separator = userDecimalSeparator();
  const CalibrationPoints points{args.required("--acp1"), args.required("--acp2"),
                                 withDecimalSeparator(args.required("--r1"), separator),
                                 withDecimalSeparator(args.required("--r2"), separator)};
  Coefficients coefficients;
  try {
    coefficients = ComputeCoefficients(points, separator);
  } catch (const RtlError& error) {
    throw UsageError(error.what());
  }
  if (!args.has("--type")) {
    printCoefficients(coefficients);
    return 0;
  }
  const int type = parseNumber(args.required("--type"), 0, 255, "--type");
  const int version = parseDeviceVersion(args.required("--version"));
  // The dialog's version text is d,dd and loses its second character; the
  // decimal digits with one character put after the first give back exactly
  // the version's digits, also for the type or version 0 that name no device.
  std::string versionText = std::to_string(version);
  versionText.insert(1, 1, separator);
  CoefficientsStore store;
  const std::string section = store.Save(static_cast<uint8_t>(type), static_cast<uint8_t>(version),
                                         type, versionText, points);
  printSection(section);
  printCoefficients(coefficients);
  return 0;
}

// The commands that talk to the bus, which --trace and --stats go with.
bool usesBus(const std::string& command) {
  return command == "scan" || command == "read" || command == "send" || command == "check" ||
         command == "survey" || command == "monitor";
}

int dispatch(const std::string& command, const std::vector<std::string>& rest, TraceOutput* trace) {
  const BusOpener open = [trace](const std::string& port) {
    return openBus(parsePort(port), trace);
  };
  if (command == "ports") return ports(rest);
  if (command == "scan") return scan(rest, open);
  if (command == "read") return read(rest, trace);
  if (command == "send") return send(rest, trace);
  if (command == "coeffs") return coeffs(rest);
  if (command == "calibrate") return calibrate(rest);
  if (command == "check") return check(rest, open);
  if (command == "survey") return survey(rest, open);
  if (command == "compare") return compare(rest);
  if (command == "report") return report(rest);
  if (command == "history") return history(rest);
  if (command == "verify") return verify(rest);
  if (command == "sites") return sites(rest);
  if (command == "monitor") {
    return monitor(rest, [trace](const std::string& port, std::shared_ptr<OwnerDispatcher> owner) {
      return openBus(parsePort(port), trace, std::move(owner));
    });
  }
  if (command == "watch") {
    return watch(rest, [](const std::string& port) {
      try {
        return watchedBus(parsePort(port));
      } catch (const UsageError&) {
        throw;
      } catch (const CliError&) {
        // A device that is not there yet (a converter unplugged when the
        // service starts) is waited for like one unplugged later.
        return watchedBus({1, port, port});
      }
    });
  }
  throw UsageError(trWith("unknown command %s", {command}));
}

int runCommand(const std::string& command, std::vector<std::string> rest) {
  const TraceOptions traceOptions = takeTraceOptions(rest);
  if (traceOptions.any() && !usesBus(command)) {
    if (commandUsage(command).empty()) throw UsageError(trWith("unknown command %s", {command}));
    throw UsageError(tr("--trace and --stats go with scan, read, send, check, survey and monitor"));
  }
  std::optional<TraceOutput> output;
  if (traceOptions.any()) output.emplace(traceOptions);
  const int status = dispatch(command, rest, output ? &*output : nullptr);
  if (output) output->finish();
  return status;
}

bool asksForHelp(const std::vector<std::string>& words) {
  return std::ranges::any_of(
      words, [](const std::string& word) { return word == "-h" || word == "--help"; });
}

int run(const std::vector<std::string>& words) {
  if (words.empty()) {
    writeText(stderr, programUsage());
    return ExitUsage;
  }
  const std::string& command = words.front();
  const std::vector<std::string> rest(words.begin() + 1, words.end());
  // Which help a usage error points to: the command's, when there is one.
  std::string helpCall = "loopctl --help";
  try {
    if (command == "-h" || command == "--help" || (command == "help" && rest.empty())) {
      writeText(stdout, programUsage());
      return ExitSuccess;
    }
    if (command == "--version") {
      printLine(stdout, versionText());
      return ExitSuccess;
    }
    if (command == "help") {
      const std::string usage = commandUsage(rest.front());
      if (usage.empty() || rest.size() > 1)
        throw UsageError(trWith("no help for %s", {rest.back()}));
      writeText(stdout, usage);
      return ExitSuccess;
    }
    if (!commandUsage(command).empty()) {
      helpCall = "loopctl " + command + " --help";
      if (asksForHelp(rest)) {
        writeText(stdout, commandUsage(command));
        return ExitSuccess;
      }
    }
    return runCommand(command, rest);
  } catch (const UsageError& error) {
    printText(stderr, tr("loopctl: %s (see %s)\n"), error.what(), helpCall.c_str());
    return ExitUsage;
  } catch (const std::exception& error) {
    printText(stderr, "loopctl: %s\n", error.what());
    return ExitFailure;
  } catch (...) {
    printText(stderr, "%s", tr("loopctl: an unexpected error ended the command\n"));
    return ExitFailure;
  }
}

}  // namespace
}  // namespace loopmon::cli

int main(int argc, char** argv) {
  loopmon::useUserLanguage("loopctl");
  std::vector<std::string> words = loopmon::commandLineWords(argc, argv);
  if (!words.empty()) words.erase(words.begin());
  return loopmon::cli::run(words);
}
