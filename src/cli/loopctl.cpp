// loopctl: the bus, the loops and the coefficients from the command line,
// through the same core as the desktop program and with its texts.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cli/check_command.h"
#include "cli/cli_args.h"
#include "cli/console_views.h"
#include "cli/monitor_command.h"
#include "common/number_text.h"
#include "monitor/coeffs.h"
#include "monitor/loop_decode.h"
#include "monitor/reading_cycle.h"
#include "platform/locale_info.h"
#include "platform/platform.h"
#include "platform/port_names.h"
#include "platform/registry.h"
#include "search/search_procedure.h"
#include "session/rssess.h"

namespace loopmon::cli {
namespace {

const char* const Usage =
    "usage:\n"
    "  loopctl ports [--map COMn=DEVICE]\n"
    "  loopctl scan --port PORT\n"
    "  loopctl read --port PORT --addr N [--state] [--skip LIST] [--all-rows]\n"
    "               [--period S [--passes K]] [--csv]\n"
    "  loopctl send --port PORT BYTE...\n"
    "  loopctl coeffs --type CODE --version BYTE\n"
    "  loopctl calibrate [--type CODE --version BYTE] --r1 TEXT --acp1 TEXT --r2 TEXT --acp2 TEXT\n"
    "  loopctl check --port PORT [--addr N] [--fix]\n"
    "  loopctl monitor --port PORT --poll LIST [--subscribe ADDR:LOOP,...] [--adc-period MS]\n"
    "                  [--duration S] [--json]\n"
    "PORT is COM1..COM256 or a device path. With the marker SIMUL held (loopsim serve)\n"
    "every request goes to the simulator.\n";

// A bad command line, as opposed to a failure of the work itself.
class UsageError : public CliError {
 public:
  using CliError::CliError;
};

// A port as loopctl takes it: COM1..COM4 are the session's ComPort, as the
// windows set it; a higher COM number (up to 256) and a device path are opened
// by name beside it.
struct PortChoice {
  int comPort = 1;
  std::string path;
  std::string name;
};

PortChoice parsePort(const std::string& text) {
  if (const std::optional<int> number = comPortNumber(text)) {
    const std::string name = comPortName(*number);
    if (*number <= 4) return {*number, "", name};
    return {1, name, name};
  }
  const bool comName =
      text.size() >= 3 && (text.compare(0, 3, "COM") == 0 || text.compare(0, 3, "com") == 0);
  std::error_code error;
  if (comName || text.empty() || !std::filesystem::exists(text, error)) {
    throw CliError("unknown port " + text + " (COM1..COM" + std::to_string(MaxComPort) +
                   " or a device path)");
  }
  return {1, text, text};
}

// A session on the chosen port; outside simulator mode the port must open.
std::unique_ptr<TRSSession> openBus(const PortChoice& port,
                                    std::shared_ptr<OwnerDispatcher> owner = nullptr) {
  auto session = std::make_unique<TRSSession>(Platform::system(), std::move(owner));
  if (port.path.empty()) {
    session->SetComPort(port.comPort);
  } else {
    session->SetPortPath(port.path);
  }
  if (!session->Simulator.enabled && !OpenPort(*session)) {
    const OpenError error = session->Port ? session->Port->openError() : OpenError{};
    const std::string device = !error.device.empty() ? error.device
                               : port.path.empty()
                                   ? resolvePortName(*session->platform.registry, port.name)
                                   : port.path;
    const std::string shown = device == port.name ? port.name : port.name + " (" + device + ")";
    throw CliError(shown + ": " +
                   (error.kind == OpenErrorKind::None ? "the port cannot be opened"
                                                      : describeOpenError(error)));
  }
  return session;
}

// The selector text the search takes the port from.
std::string selectorText(const PortChoice& port) {
  return port.name;
}

int ports(const std::vector<std::string>& words) {
  const Arguments args(words, {"--map"}, {});
  if (!args.plain().empty()) throw UsageError("ports takes no words: " + args.plain().front());
  auto registry = openSystemRegistry();
  if (args.has("--map")) {
    const std::string mapping = args.required("--map");
    const size_t equals = mapping.find('=');
    if (equals == std::string::npos) throw CliError("--map: expected COMn=DEVICE");
    const std::string comName = mapping.substr(0, equals);
    const std::string device = mapping.substr(equals + 1);
    // Exactly the names --port takes as COM names.
    if (!comPortNumber(comName)) {
      throw CliError("--map: '" + comName + "' is not a COM name (COM1..COM" +
                     std::to_string(MaxComPort) + ")");
    }
    std::error_code error;
    if (device.empty() || !std::filesystem::exists(device, error)) {
      throw CliError("--map: no device " + device);
    }
    if (!mapPort(*registry, comName, device)) throw CliError("--map: the mapping cannot be stored");
  }
  for (const PortEntry& entry : listPorts(*registry)) {
    std::string line = (entry.comName.empty() ? "-" : entry.comName) + "\t" + entry.devicePath;
    const std::string what = describePort(entry);
    if (!what.empty()) line += "\t" + what;
    if (!entry.stableName.empty()) line += "\t" + entry.stableName;
    std::printf("%s\n", line.c_str());
  }
  return 0;
}

int scan(const std::vector<std::string>& words) {
  const Arguments args(words, {"--port"}, {});
  if (!args.plain().empty()) throw UsageError("scan takes no words: " + args.plain().front());
  const PortChoice port = parsePort(args.required("--port"));
  auto session = openBus(port);
  ConsoleSearchView view(stdout, stderr, selectorText(port));
  SearchProcedure search(view, session.get());
  search.StartStopScan();
  while (view.scanTimerEnabled()) search.ScanStep();
  view.endProgress();
  return 0;
}

// Spreadsheet-style local time of a date-time in days since 1899-12-30.
std::string timestamp(double days) {
  const auto totalMs = static_cast<long long>(days * 86'400'000.0 + 0.5);
  const long long z = totalMs / 86'400'000 - 25'569 + 719'468;  // days since 0000-03-01
  const long long era = (z >= 0 ? z : z - 146'096) / 146'097;
  const long long dayOfEra = z - era * 146'097;
  const long long yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
  const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long long monthIndex = (5 * dayOfYear + 2) / 153;
  const long long day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const long long month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  const long long msOfDay = totalMs % 86'400'000;
  char text[96];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld.%03lld", year, month,
                day, msOfDay / 3'600'000, msOfDay / 60'000 % 60, msOfDay / 1000 % 60,
                msOfDay % 1000);
  return text;
}

// Rows as text: tab-separated for people, or CSV with the field separator
// that suits the locale's decimal separator.
class RowPrinter {
 public:
  RowPrinter(bool csv, Clock& clock)
      : csv_(csv), clock_(clock), separator_(userDecimalSeparator() == ',' ? ';' : ',') {}

  void heading(const ConsoleLoopTable& table) {
    std::vector<std::string> fields;
    if (csv_) fields.push_back("Время");
    for (int column = 0; column < table.Columns(); ++column)
      fields.push_back(table.Cell(column, 0));
    line(fields);
  }

  void row(const ConsoleLoopTable& table, int row) {
    std::vector<std::string> fields;
    if (csv_) fields.push_back(timestamp(clock_.nowDays()));
    for (int column = 0; column < table.Columns(); ++column) {
      fields.push_back(table.Cell(column, row));
    }
    line(fields);
  }

 private:
  void line(const std::vector<std::string>& fields) {
    std::string text;
    for (size_t i = 0; i < fields.size(); ++i) {
      if (i > 0) text += csv_ ? separator_ : '\t';
      text += csv_ ? quoted(fields[i]) : fields[i];
    }
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
  }

  std::string quoted(const std::string& field) const {
    if (field.find_first_of(std::string("\"\n") + separator_) == std::string::npos) return field;
    std::string text = "\"";
    for (char c : field) text += c == '"' ? std::string("\"\"") : std::string(1, c);
    return text + "\"";
  }

  bool csv_;
  Clock& clock_;
  char separator_;
};

int read(const std::vector<std::string>& words) {
  const Arguments args(words, {"--port", "--addr", "--skip", "--period", "--passes"},
                       {"--state", "--all-rows", "--csv"});
  if (!args.plain().empty()) throw UsageError("read takes no words: " + args.plain().front());
  const PortChoice port = parsePort(args.required("--port"));
  const auto addr = static_cast<uint8_t>(parseNumber(args.required("--addr"), 1, 127, "--addr"));
  const std::set<int> skipped =
      args.has("--skip") ? parseLoopList(args.required("--skip")) : std::set<int>{};
  const bool periodic = args.has("--period");
  if (args.has("--passes") && !periodic) throw UsageError("--passes needs --period");
  const int periodSeconds =
      periodic ? parseNumber(args.required("--period"), 1, 30, "--period") : 1;
  // Without --passes a periodic reading runs until it is interrupted.
  const int passes =
      args.has("--passes") ? parseNumber(args.required("--passes"), 1, 1'000'000, "--passes") : 0;
  const bool csv = args.has("--csv");

  auto session = openBus(port);
  ConsoleSearchView identified(nullptr, nullptr, selectorText(port));
  SearchProcedure search(identified, session.get());
  search.IdentifyAddress(addr);
  if (identified.lines().empty()) {
    throw CliError("no device answers at address " + std::to_string(addr));
  }

  const SelectedDevice device{addr, static_cast<uint8_t>(session->GetDeviceType(addr)),
                              session->DeviceVersions[addr]};
  ConsoleLoopTable table(device, LoopTableRows(device.DevType), !args.has("--state"), periodic,
                         periodSeconds);
  if (device.DevType == LineControllerType && !args.has("--all-rows")) {
    for (int row = 2; row < table.RowCount(); ++row) table.SetSkipMark(row, true);
  }
  for (int loop : skipped) table.SetSkipMark(loop, true);

  const CoefficientsStore store;
  SessionRequester requester(*session);
  ReadingCycle cycle(table, requester, store);
  cycle.Start();

  RowPrinter printer(csv, *session->platform.clock);
  if (!csv) std::printf("%s\n", identified.lines().front().c_str());
  printer.heading(table);
  for (int pass = 1;; ++pass) {
    TickResult result;
    do {
      const int loop = cycle.CurLoop();
      result = cycle.Tick();
      if (loop < table.RowCount() && !table.SkipMark(loop)) printer.row(table, loop);
    } while (result.enableTimer && result.waitBeforeEnableMs == 0);
    if (!result.enableTimer || pass == passes) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(result.waitBeforeEnableMs));
  }
  return 0;
}

std::string hexText(const Bytes& bytes) {
  std::string text;
  for (uint8_t byte : bytes) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", byte);
    if (!text.empty()) text += ' ';
    text += hex;
  }
  return text;
}

int send(const std::vector<std::string>& words) {
  const Arguments args(words, {"--port"}, {});
  const PortChoice port = parsePort(args.required("--port"));
  Bytes request;
  for (const std::string& word : args.plain()) {
    request.push_back(static_cast<uint8_t>(parseNumber(word, 0, 255, "byte")));
  }
  if (request.size() < 5) {
    throw UsageError("a request has at least 5 bytes: address, length, modifier, command, data");
  }
  auto session = openBus(port);
  if (!session->DirectRequest(request, 1)) {
    throw CliError("no answer from address " + std::to_string(request[0]));
  }
  const Bytes& answer = session->LastAnswer;
  std::printf("%s\n", hexText(answer).c_str());
  std::string data;
  for (size_t i = 3; i + 1 < answer.size(); ++i) data += " " + std::to_string(answer[i]);
  std::printf("address %d, length %d, code %d, data%s, checksum %d\n", answer[0], answer[1],
              answer[2], data.c_str(), answer.back());
  return 0;
}

void printSection(const std::string& section) {
  std::printf("[%s]\n", section.c_str());
}

void printCoefficients(const Coefficients& coefficients) {
  std::printf("a=%s\nb=%s\n", FloatToStr(coefficients.a).c_str(),
              FloatToStr(coefficients.b).c_str());
}

int coeffs(const std::vector<std::string>& words) {
  const Arguments args(words, {"--type", "--version"}, {});
  if (!args.plain().empty()) throw UsageError("coeffs takes no words: " + args.plain().front());
  const auto type = static_cast<uint8_t>(parseNumber(args.required("--type"), 0, 255, "--type"));
  const auto version =
      static_cast<uint8_t>(parseNumber(args.required("--version"), 0, 255, "--version"));
  const CoefficientsStore store;
  const Coefficients coefficients = store.Lookup(type, version);
  const auto points = store.LoadPoints(type, version);
  printSection(CoefficientsSection(type, version));
  if (points) {
    std::printf("ACP1=%s\nACP2=%s\nR1=%s\nR2=%s\n", points->ACP1.c_str(), points->ACP2.c_str(),
                points->R1.c_str(), points->R2.c_str());
  } else {
    std::printf("; built-in\n");
  }
  printCoefficients(coefficients);
  return 0;
}

int calibrate(const std::vector<std::string>& words) {
  const Arguments args(words, {"--type", "--version", "--r1", "--acp1", "--r2", "--acp2"}, {});
  if (!args.plain().empty()) throw UsageError("calibrate takes no words: " + args.plain().front());
  if (args.has("--type") != args.has("--version")) {
    throw UsageError("--type and --version go together");
  }
  const CalibrationPoints points{args.required("--acp1"), args.required("--acp2"),
                                 args.required("--r1"), args.required("--r2")};
  if (!args.has("--type")) {
    printCoefficients(ComputeCoefficients(points, userDecimalSeparator()));
    return 0;
  }
  const int type = parseNumber(args.required("--type"), 0, 255, "--type");
  const int version = parseNumber(args.required("--version"), 0, 255, "--version");
  // The dialog's version text is d,dd and loses its second character; the
  // decimal digits with one character put after the first give back exactly
  // the version's digits, also for the type or version 0 that name no device.
  std::string versionText = std::to_string(version);
  versionText.insert(1, 1, userDecimalSeparator());
  CoefficientsStore store;
  const std::string section = store.Save(static_cast<uint8_t>(type), static_cast<uint8_t>(version),
                                         type, versionText, points);
  printSection(section);
  printCoefficients(ComputeCoefficients(points, userDecimalSeparator()));
  return 0;
}

int run(const std::vector<std::string>& words) {
  if (words.empty()) throw UsageError("a command is missing");
  const std::string& command = words.front();
  const std::vector<std::string> rest(words.begin() + 1, words.end());
  if (command == "--help" || command == "help") {
    std::printf("%s", Usage);
    return 0;
  }
  if (command == "ports") return ports(rest);
  if (command == "scan") return scan(rest);
  if (command == "read") return read(rest);
  if (command == "send") return send(rest);
  if (command == "coeffs") return coeffs(rest);
  if (command == "calibrate") return calibrate(rest);
  if (command == "check") {
    return check(rest, [](const std::string& port) { return openBus(parsePort(port)); });
  }
  if (command == "monitor") {
    return monitor(rest, [](const std::string& port, std::shared_ptr<OwnerDispatcher> owner) {
      return openBus(parsePort(port), std::move(owner));
    });
  }
  throw UsageError("unknown command " + command);
}

}  // namespace
}  // namespace loopmon::cli

int main(int argc, char** argv) {
  using namespace loopmon;
  try {
    return cli::run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const cli::UsageError& error) {
    std::fprintf(stderr, "loopctl: %s (see loopctl --help)\n", error.what());
    return 2;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "loopctl: %s\n", error.what());
    return 1;
  }
}
