// loopctl end to end: a copy of the program in a folder of its own (so its
// ohmgauge.kft is the test's), a real loopsim on a pseudo-terminal or as the
// simulator server, and the texts the program prints.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "common/number_text.h"
#include "delaying_relay.h"
#include "loopsim_process.h"
#include "platform/store/registry.h"
#include "record/json.h"
#include "record/site_record.h"
#include "scoped_temp_dir.h"
#include "ser2net_process.h"
#include "session/device_names.h"
#include "session/session.h"
#include "traffic/capture.h"
#include "traffic/frame_meaning.h"
#include "transport/line_settings.h"
#include "tshark.h"

namespace loopmon {
namespace {

using Lines = std::vector<std::string>;

// Type 1 at 9 with pinned loops (open, short, in alarm), type 4 at 20 whose
// loops answer only the state request, type 9 at 127 with a line device of a
// kind the program does not know.
const char* const ScenarioText = R"([bus]
drift = no
[device 9]
type = 1
version = 160
loop.1 = 100, state 24
loop.2 = 0, state 44
loop.3 = 255, state 3
loop.4 = 160, state 109
loop.5 = 96, state 187
[device 20]
type = 4
version = 102
ignore = 0x1B
[device 127]
type = 9
version = 101
loop.1 = 0
line.1 = off
line.2 = 5
line.3 = 9
)";

// The fields of a flat JSON object (strings, numbers, true, false and null),
// each value as written; empty when the line is not one such object.
std::map<std::string, std::string> jsonFields(const std::string& line) {
  static const std::regex member(
      R"re(([{,])"([a-z_]+)":("(?:[^"\\]|\\.)*"|-?[0-9.]+|true|false|null))re");
  std::map<std::string, std::string> fields;
  size_t consumed = 0;
  for (std::sregex_iterator it(line.begin(), line.end(), member), end; it != end; ++it) {
    if (static_cast<size_t>(it->position()) != consumed || ((*it)[1] == "{") != fields.empty())
      return {};
    fields[(*it)[2]] = (*it)[3];
    consumed += static_cast<size_t>(it->length());
  }
  if (consumed + 1 != line.size() || line.back() != '}') return {};
  return fields;
}

// ISO 8601 local time with the zone's offset, to the millisecond.
const char* const IsoTime = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)";

const Lines ScannedLines{
    "Адрес: 127  Hovra-Y (версия  1.01)",
    "Адрес:   9  Mivra-Q (версия  1.60)",
    "Адрес:  20  Hovra-J (версия  1.02)",
};

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
  Lines lines() const {
    Lines result;
    std::istringstream text(out);
    for (std::string line; std::getline(text, line);) result.push_back(line);
    return result;
  }
};

std::string slurp(const std::string& path) {
  std::ifstream file(path);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

class Loopctl : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(folder.file("bin"));
    std::filesystem::copy_file(LOOPCTL_PATH, program());
    std::filesystem::create_directories(folder.file("config/loopmon"));
    auto registry = openRegistryFile(folder.file("config/loopmon/system.reg"));
    registry->createKey(LineSettingsKey);
    // Short read time-outs keep a full scan short; an answer still fits.
    registry->write(LineSettingsKey, "TimeoutConstant", RegValue::ofDword(20));
    registry->write(LineSettingsKey, "StartTimeout", RegValue::ofDword(1));
    std::ofstream(folder.file("bus.ini")) << ScenarioText;
  }

  std::string program() const { return folder.file("bin/loopctl"); }
  std::string coefficientsFile() const { return folder.file("bin/ohmgauge.kft"); }
  std::string tty() const { return folder.file("tty"); }

  void startLoopsim(bool server, bool echo = false) {
    std::vector<std::string> args{server ? "serve" : "pty", "--scenario", folder.file("bus.ini")};
    if (!server) args.insert(args.end(), {"--link", tty()});
    if (echo) args.push_back("--echo");
    loopsim = std::make_unique<testing::LoopsimProcess>(LOOPSIM_PATH, args);
    const std::string ready = server ? "loopsim: serving" : "loopsim: linked as";
    for (std::string out = loopsim->readLine(); !out.starts_with(ready); out = loopsim->readLine())
      ASSERT_FALSE(out.empty()) << "loopsim did not start";
  }

  // Starts loopctl (or `binary`) with its output going to the files "out" and "err".
  pid_t start(std::vector<std::string> args, const std::string& binary = "") {
    args.insert(args.begin(), binary.empty() ? program() : binary);
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, folder.file("out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, folder.file("err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  // Waits for the program to end; one that is still running after 3 minutes
  // is killed and counts as failed (status -1).
  RunResult finish(pid_t pid) {
    RunResult result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
    int status = 0;
    while (pid > 0 && waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "loopctl hangs";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (pid > 0) result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = slurp(folder.file("out"));
    result.err = slurp(folder.file("err"));
    return result;
  }

  RunResult run(const std::vector<std::string>& args, const std::string& binary = "") {
    return finish(start(args, binary));
  }

  // A failure: its exit status, exactly one line on standard error naming the
  // problem, and nothing on standard output.
  void expectFailure(const std::vector<std::string>& args, int status, const std::string& problem) {
    const RunResult failed = run(args);
    EXPECT_EQ(failed.status, status) << args[0] << " " << failed.err;
    EXPECT_TRUE(failed.out.empty()) << failed.out;
    EXPECT_EQ(std::ranges::count(failed.err, '\n'), 1) << failed.err;
    EXPECT_NE(failed.err.find(problem), std::string::npos) << failed.err;
  }

  void checkRemoteLine(const std::function<std::string(const testing::Ser2netProcess&)>& url);

  testing::ScopedTempDir folder;
  testing::PrivateRuntimeFolder runtime;
  testing::ScopedEnv config{"XDG_CONFIG_HOME", folder.file("config")};
  testing::ScopedEnv locale{"LC_ALL", "C"};
  std::unique_ptr<testing::LoopsimProcess> loopsim;
};

TEST_F(Loopctl, ScanAndReadOverTheLine) {
  startLoopsim(false);
  const RunResult scan = run({"scan", "--port", tty(), "--addr", "1-20,127"});
  EXPECT_EQ(scan.status, 0) << scan.err;
  EXPECT_EQ(scan.lines(), ScannedLines);
  EXPECT_TRUE(std::regex_search(scan.err, std::regex("^Поиск приборов по адресу 127 \\(1/21\\)\n")))
      << "progress off a terminal as lines: " << scan.err;
  EXPECT_TRUE(
      std::regex_search(scan.err, std::regex("\n3 found, 21 addresses probed in [0-9.]+ s\n$")))
      << scan.err;

  std::ofstream(coefficientsFile()) << "[1-160]\na=408\nb=-1\n";
  const RunResult adc = run({"read", "--port", tty(), "--addr", "9", "--skip", "6-20"});
  EXPECT_EQ(adc.status, 0) << adc.err;
  EXPECT_EQ(adc.lines(), (Lines{ScannedLines[1], "Номер ШС\tПоказание АЦП\tR кОм", "1\t100\t3.1",
                                "2\t0\tОбрыв", "3\t255\tКЗ", "4\t160\t1.6", "5\t96\t3.3"}));
  EXPECT_EQ(run({"read", "--port", tty(), "--addr", "9", "--state", "--skip", "6-20"}).lines(),
            (Lines{ScannedLines[1], "Номер ШС\tСостояние ШС", "1\tна охране", "2\tвнимание",
                   "3\tтревога", "4\tне на охране", "5\tотключен"}));
  EXPECT_EQ(run({"read", "--port", tty(), "--addr", "127"}).lines(),
            (Lines{ScannedLines[0], "Номер ШС\tПоказание АЦП\tR кОм", "1\t0\tоткл."}));

  // Texts stand in a column of their own; adc and kohm hold numbers only.
  const RunResult csv = run({"read", "--port", tty(), "--addr", "9", "--skip", "4-20", "--csv",
                             "--period=1", "--passes", "2"});
  const Lines rows = csv.lines();
  ASSERT_EQ(rows.size(), 7u) << csv.out << csv.err;
  EXPECT_EQ(rows[0], "time,addr,loop,adc,kohm,text");
  const std::string time = IsoTime;
  for (const int pass : {0, 3}) {
    EXPECT_TRUE(std::regex_match(rows[pass + 1], std::regex(time + ",9,1,100,3\\.1,"))) << rows[1];
    EXPECT_TRUE(std::regex_match(rows[pass + 2], std::regex(time + ",9,2,0,,Обрыв"))) << rows[2];
    EXPECT_TRUE(std::regex_match(rows[pass + 3], std::regex(time + ",9,3,255,,КЗ"))) << rows[3];
  }
  const RunResult json = run({"read", "--port", tty(), "--addr", "127", "--json"});
  const auto fields = jsonFields(json.lines().at(0));
  EXPECT_TRUE(std::regex_match(fields.at("time"), std::regex("\"" + time + "\"")));
  EXPECT_EQ(fields, (std::map<std::string, std::string>{{"time", fields.at("time")},
                                                        {"addr", "127"},
                                                        {"loop", "1"},
                                                        {"adc", "0"},
                                                        {"kohm", "null"},
                                                        {"text", "\"откл.\""}}));

  const RunResult send = run({"send", "--port", tty(), "9", "6", "0", "13", "0", "0"});
  EXPECT_EQ(send.lines(),
            (Lines{"09 05 00 01 A0 19", "address 9, length 5, code 0, data 1 160, checksum 25"}));
}

// The trace beside a scan, whose devices come out as without it, the
// counters it adds up to, and the JSON form of a raw request's trace.
TEST_F(Loopctl, TraceAndStatsBesideTheWork) {
  startLoopsim(false);
  const RunResult scan = run(
      {"scan", "--port", tty(), "--addr", "9,20,50", "--trace=" + folder.file("trace"), "--stats"});
  EXPECT_EQ(scan.status, 0) << scan.err;
  EXPECT_EQ(scan.lines(), (Lines{ScannedLines[1], ScannedLines[2]}));
  std::istringstream trace(slurp(folder.file("trace")));
  const std::regex attempt(
      R"(\d\d:\d\d:\d\d\.\d{6} addr (\d+) try \d/6 [0-9A-F ]+ \| )"
      R"((answer [0-9.]+\.\.[0-9.]+ ms [0-9A-F ]+ \| .+ => .+|silence [0-9.]+ ms \| presence\?))");
  int silences = 0;
  for (std::string line; std::getline(trace, line);) {
    std::smatch m;
    EXPECT_TRUE(std::regex_match(line, m, attempt)) << line;
    silences += m.size() > 1 && m[1] == "50";
  }
  EXPECT_EQ(silences, 6);
  EXPECT_TRUE(std::regex_search(scan.err, std::regex("\n  50 +1 +0 +6 +0 +0 +5 +1 +- +-\n")))
      << "requests, answers, silences, damaged, unsent, retries, failed: " << scan.err;

  const RunResult send = run({"send", "--port", tty(), "9", "6", "0", "13", "0", "0", "--trace",
                              "--trace-format", "json"});
  const auto fields = jsonFields(send.err.substr(0, send.err.find('\n')));
  EXPECT_EQ(fields.at("outcome"), "\"answer\"") << send.err;
  EXPECT_EQ(fields.at("meaning"), "\"description? => type 1 Mivra-Q, version 1.60\"");
  EXPECT_EQ(fields.at("answer"), "\"09 05 00 01 A0 19\"");
}

TEST_F(Loopctl, AMappedComNameOpensAsThatPort) {
  startLoopsim(false);
  const RunResult mapped = run({"ports", "--map", "COM7=" + tty()});
  EXPECT_EQ(mapped.status, 0) << mapped.err;
  EXPECT_NE(mapped.out.find("COM7\t" + tty() + "\n"), std::string::npos) << mapped.out;
  const RunResult send = run({"send", "--port", "com7", "9", "6", "0", "13", "0", "0"});
  EXPECT_EQ(send.status, 0) << send.err;
  EXPECT_EQ(send.lines().front(), "09 05 00 01 A0 19");
}

// check's findings by item: "round trip      ok    20.9 ms ..." gives
// {"round trip", "ok"}.
std::map<std::string, std::string> verdicts(const Lines& lines) {
  std::map<std::string, std::string> result;
  for (const std::string& line : lines) {
    std::istringstream words(line.substr(16));
    std::string verdict;
    words >> verdict;
    result[line.substr(0, line.find_last_not_of(' ', 15) + 1)] = verdict;
  }
  return result;
}

TEST_F(Loopctl, CheckTellsAnEchoingConverterFromAQuietOne) {
  // Every presence answer in time also on a loaded machine.
  openRegistryFile(folder.file("config/loopmon/system.reg"))
      ->write(LineSettingsKey, "TimeoutConstant", RegValue::ofDword(300));
  for (const bool echo : {false, true}) {
    SCOPED_TRACE(echo ? "echo" : "no echo");
    startLoopsim(false, echo);
    const RunResult device = run({"check", "--port", tty(), "--addr", "9"});
    EXPECT_EQ(device.status, 0) << device.err;
    // Open time, round trip and turnaround vary with the load: an exchange
    // whose turnaround a busy machine delays loses its answer, and an echo
    // delivered late can pass for one.
    std::map<std::string, std::string> found = verdicts(device.lines());
    EXPECT_NE(found["round trip"], "fail") << device.out;
    for (const char* varying : {"open time", "wake-up", "round trip", "turnaround"}) {
      found.erase(varying);
    }
    EXPECT_EQ(found, (std::map<std::string, std::string>{{"echo", echo ? "warn" : "ok"},
                                                         {"latency timer", "n/a"},
                                                         {"line settings", "ok"},
                                                         {"kernel RS-485", "n/a"}}))
        << device.out;

    const RunResult silent = run({"check", "--port", tty(), "--addr", "50"});
    EXPECT_EQ(silent.status, 1);
    EXPECT_EQ(verdicts(silent.lines())["round trip"], "fail") << silent.out;
    EXPECT_EQ(verdicts(silent.lines())["line settings"], echo ? "ok" : "warn") << silent.out;
    loopsim.reset();
  }
}

TEST_F(Loopctl, EverythingGoesToTheSimulatorServerWhenItRuns) {
  startLoopsim(true);
  const RunResult states =
      run({"read", "--port", "COM2", "--addr", "9", "--state", "--skip", "2-20"});
  EXPECT_EQ(states.status, 0) << states.err;
  EXPECT_EQ(states.lines(), (Lines{ScannedLines[1], "Номер ШС\tСостояние ШС", "1\tна охране"}));
}

TEST_F(Loopctl, BadInputIsOneLineOnStandardError) {
  startLoopsim(false);
  struct Case {
    Lines args;
    int status;
    std::string problem;
  };
  // Files that are not site records: broken JSON, and another program's.
  const std::string broken = folder.file("broken.json");
  const std::string foreign = folder.file("foreign.json");
  std::ofstream(broken) << "{\"site\": \"Склад\",\n";
  std::ofstream(foreign) << R"({"name": "loopmon", "version": "1.0", "dependencies": {}})";
  // Files no record is read from, nor a trace written to: neither is waited
  // on, nor read without end.
  const std::string fifo = folder.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string huge = folder.file("huge.json");
  std::ofstream(huge) << "{";
  std::filesystem::resize_file(huge, 17 << 20);
  const Case cases[] = {
      {{"read", "--port", tty(), "--addr", "0"}, 2, "0 is outside 1..127"},
      {{"read", "--port", tty(), "--addr=128"}, 2, "128 is outside 1..127"},
      {{"read", "--port", tty(), "--addr", "x5"}, 2, "'x5' is not a number"},
      {{"read", "--port", tty(), "--addr", "50"}, 1, "no device answers at address 50"},
      {{"read", "--port", tty(), "--addr", "9", "--period", "31"}, 2, "31 is outside 1..30"},
      {{"scan", "--port", "COM257"}, 2, "unknown port COM257"},
      {{"scan", "--port", "COM200"}, 1, "COM200 (/dev/ttyS199): not found"},
      {{"ports", "--map", "COM257=" + tty()}, 2, "'COM257' is not a COM name"},
      {{"scan", "--port", folder.file("missing")}, 1, "unknown port"},
      {{"scan", "--port", tty(), "--fast"}, 2, "unknown option --fast (see loopctl scan --help)"},
      {{"send", "--port", tty(), "9", "6", "0", "256", "0", "0"}, 2, "256 is outside 0..255"},
      {{"frobnicate"}, 2, "unknown command frobnicate"},
      {{"calibrate", "--type", "2", "--version", "105", "--r1", "1.04", "--acp1", "0", "--r2",
        "3.08", "--acp2", "100"},
       2,
       "Floating point division by zero"},
      {{"calibrate", "--type", "2", "--version", "105", "--r1", "1;04", "--acp1", "200", "--r2",
        "3.08", "--acp2", "100"},
       2,
       "'1;04' is not a valid floating point value"},
      {{"coeffs", "--type", "99", "--version", "1"}, 1, "type 99 has no built-in coefficients"},
      {{"compare", broken, foreign},
       1,
       broken + ": not JSON: line 2, column 1: syntax error while parsing object key"},
      {{"compare", fifo, foreign}, 1, fifo + ": cannot be read (not a regular file)"},
      {{"compare", "/dev/zero", foreign}, 1, "/dev/zero: cannot be read (not a regular file)"},
      {{"compare", huge, foreign}, 1, huge + ": cannot be read (larger than 16 MB)"},
      {{"report", fifo, "--html", folder.file("fifo.html")}, 1, "(not a regular file)"},
      {{"scan", "--port", tty(), "--trace=" + fifo},
       1,
       "cannot write " + fifo + ": not a regular file"},
      {{"survey", "--port", tty(), "--site", "\xd1\xea\xeb\xe0\xe4"},
       2,
       "--site: the name is not UTF-8 text"},
      {{"compare", foreign, broken}, 1, foreign + ": not a site record"},
      {{"compare", folder.file("missing.json"), foreign},
       1,
       folder.file("missing.json") + ": cannot be read (not found)"},
      {{"report", folder.path(), "--html", folder.file("dir.html")},
       1,
       folder.path() + ": cannot be read (not a regular file)"},
      {{"compare", foreign}, 2, "compare takes two records: OLD.json NEW.json"},
      {{"compare", foreign, foreign, "--tolerance", "-1"}, 2, "--tolerance: -1 is outside 0..1000"},
      {{"report", foreign}, 2, "--html is missing"},
      {{"survey", "--port", tty(), "--out", folder.file("missing/site.json")},
       1,
       "--out: the folder of " + folder.file("missing/site.json") + " does not exist"},
  };
  for (const auto& [args, status, problem] : cases) expectFailure(args, status, problem);
  EXPECT_FALSE(std::filesystem::exists(coefficientsFile()))
      << "a refused calibration writes nothing";

  const int held = ::open(tty().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  expectFailure({"scan", "--port", tty()}, 1, "busy: held by another program");
  ::close(held);
}

// ser2net serving the pseudo-terminal line on the loopback address: scan and
// read through `url`, a server that goes away in the middle of a reading, the
// next run once it is back, and the line under a COM name.
void Loopctl::checkRemoteLine(
    const std::function<std::string(const testing::Ser2netProcess&)>& url) {
  startLoopsim(false);
  testing::Ser2netProcess server(SER2NET_PATH, tty());
  ASSERT_TRUE(server.start()) << "ser2net (" << SER2NET_PATH
                              << ") does not serve; scripts/install-deps installs it";
  const std::string line = url(server);
  std::ofstream(coefficientsFile()) << "[1-160]\na=408\nb=-1\n";
  auto readOn = [&](const std::string& port) {
    return std::vector<std::string>{"read", "--port", port, "--addr", "9", "--skip", "6-20"};
  };
  const RunResult local = run(readOn(tty()));
  ASSERT_EQ(local.status, 0) << local.err;

  const RunResult scan = run({"scan", "--port", line});
  EXPECT_EQ(scan.status, 0) << scan.err;
  EXPECT_EQ(scan.lines(), ScannedLines);
  EXPECT_EQ(run(readOn(line)).out, local.out);

  std::vector<std::string> periodic = readOn(line);
  periodic.insert(periodic.end(), {"--period", "1"});
  const pid_t reader = start(periodic);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::ranges::count(slurp(folder.file("out")), '\n') < 4 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  server.kill();
  const RunResult broken = finish(reader);
  EXPECT_EQ(broken.status, 1);
  EXPECT_EQ(std::ranges::count(broken.err, '\n'), 1) << broken.err;
  EXPECT_NE(broken.err.find(line + ": connection lost"), std::string::npos) << broken.err;
  expectFailure({"scan", "--port", line}, 1, line + ": connection refused");

  ASSERT_TRUE(server.start());
  const RunResult again = run(readOn(line));
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out, local.out);

  ASSERT_EQ(run({"ports", "--map", "COM4=" + line}).status, 0);
  EXPECT_EQ(run(readOn("COM4")).out, local.out) << "the line under a COM name";
}

TEST_F(Loopctl, RemoteLineOverRfc2217) {
  checkRemoteLine(&testing::Ser2netProcess::rfc2217Url);
  expectFailure({"scan", "--port", "rfc2217://plantroom"}, 2, "rfc2217://HOST:PORT");
}

TEST_F(Loopctl, RemoteLineOverRawTcp) {
  checkRemoteLine(&testing::Ser2netProcess::tcpUrl);
}

// Raw TCP through a relay delaying each way by 0, 5 and 30 ms with jitter, the
// ceiling set for the slowest: every device is found, and without delay the
// scan costs well below what its silent addresses would at the ceiling.
TEST_F(Loopctl, RemoteLineOverDelayingRelay) {
  startLoopsim(false);
  testing::Ser2netProcess server(SER2NET_PATH, tty());
  ASSERT_TRUE(server.start());
  const uint32_t ceilingMs = 300;
  openRegistryFile(folder.file("config/loopmon/system.reg"))
      ->write(LineSettingsKey, "NetworkAllowance", RegValue::ofDword(ceilingMs));
  const std::chrono::duration<double> silentAtCeiling =
      8 * 6 * std::chrono::milliseconds(20 + ceilingMs);
  for (const int delayMs : {0, 5, 30}) {
    SCOPED_TRACE(delayMs);
    testing::DelayingRelay relay(server.tcpPort(), delayMs);
    const auto start = std::chrono::steady_clock::now();
    const RunResult scan = run({"scan", "--port", relay.tcpUrl(), "--addr", "1-9,20,127"});
    EXPECT_EQ(scan.status, 0) << scan.err;
    EXPECT_EQ(scan.lines(), ScannedLines) << scan.err;
    EXPECT_TRUE(delayMs > 0 || std::chrono::steady_clock::now() - start < silentAtCeiling / 2);
  }
}

// Device 5 with four loops, loop k reading 10 k: each answer of a read goes
// astray in turn (held back past its try's limit, from another address, of
// another request's kind) on every route: the pseudo-terminal, raw TCP and
// RFC 2217 through ser2net, and the simulator server (where nothing is late).
// Every loop shows its own reading or "false", never another loop's.
TEST_F(Loopctl, RemoteLineOverHeldAnswers) {
  struct Case {
    const char* what;
    const char* answers;  // presence, identification, then loops 1 to 4
    const char* lateUs;
    Lines loops;  // number and reading of each loop line
  };
  const Lines right{"1\t10", "2\t20", "3\t30", "4\t40"};
  const Case cases[] = {
      {"identification held 650 ms", "ok, late", "650000", right},
      {"loop 2 held 650 ms", "ok, ok, ok, late", "650000", right},
      {"loop 1 held 2 s", "ok, ok, late", "2000000", right},
      // Past the local time-out and the few milliseconds a remote line learns
      // it needs: the answer reaches the server about when the retry's purge
      // does.
      {"loop 2 held 210 ms", "ok, ok, ok, late", "210000", right},
      {"loop 2 from device 6", "ok, ok, ok, other-address", "0", right},
      {"loop 3 a loop state",
       "ok, ok, ok, ok, other-code",
       "0",
       {"1\t10", "2\t20", "3\tfalse", "4\t40"}},
  };
  enum class Route { Line, RawTcp, Rfc2217, Server };
  for (const Route route : {Route::Line, Route::RawTcp, Route::Rfc2217, Route::Server}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + " on route " + std::to_string(static_cast<int>(route)));
      std::ofstream(folder.file("bus.ini"))
          << "[bus]\ndrift = no\n[device 5]\ntype = 4\nversion = 102\nloop.1 = 10\n"
             "loop.2 = 20\nloop.3 = 30\nloop.4 = 40\nanswers = "
          << c.answers << ", ok, ok, ok, ok, ok, ok, ok, ok, ok, ok, ok, ok\nlate-us = " << c.lateUs
          << "\n";
      // Time-outs with room for a loaded machine: only the held answer is late.
      openRegistryFile(folder.file("config/loopmon/system.reg"))
          ->write(LineSettingsKey, "TimeoutConstant", RegValue::ofDword(200));
      startLoopsim(route == Route::Server);
      std::unique_ptr<testing::Ser2netProcess> server;
      std::string port = route == Route::Server ? "COM1" : tty();
      if (route == Route::RawTcp || route == Route::Rfc2217) {
        server = std::make_unique<testing::Ser2netProcess>(SER2NET_PATH, tty());
        ASSERT_TRUE(server->start());
        port = route == Route::RawTcp ? server->tcpUrl() : server->rfc2217Url();
      }
      const RunResult read = run({"read", "--port", port, "--addr", "5"});
      EXPECT_EQ(read.status, 0) << read.err;
      Lines loops;
      for (const std::string& line : read.lines()) {
        if (line.empty() || line[0] < '1' || line[0] > '9') continue;
        loops.push_back(line.substr(0, line.find('\t', line.find('\t') + 1)));
      }
      EXPECT_EQ(loops, c.loops) << read.out;
      server.reset();
      loopsim.reset();
    }
  }
}

// The worker's presence polls and loop readings share the line with a held
// answer: the device is never taken for a false one, and every reading shown
// is its own loop's (loop k reads 10·k).
TEST_F(Loopctl, RemoteLineMonitorOverHeldAnswers) {
  // Which of the device's answers is held, counted from the first after the
  // identification.
  for (const char* held : {"late", "ok, late", "ok, ok, ok, late", "ok, ok, ok, ok, ok, late"}) {
    for (const bool rfc2217 : {false, true}) {
      SCOPED_TRACE(std::string(held) + (rfc2217 ? " over rfc2217" : " over raw tcp"));
      std::ofstream(folder.file("bus.ini"))
          << "[bus]\ndrift = no\n[device 5]\ntype = 4\nversion = 102\nloop.1 = 10\n"
             "loop.2 = 20\nloop.3 = 30\nloop.4 = 40\nanswers = ok, "
          << held << ", ok, ok, ok, ok, ok, ok, ok, ok, ok, ok, ok, ok, ok, ok, ok, ok"
          << "\nlate-us = 650000\n";
      openRegistryFile(folder.file("config/loopmon/system.reg"))
          ->write(LineSettingsKey, "TimeoutConstant", RegValue::ofDword(200));
      startLoopsim(false);
      testing::Ser2netProcess server(SER2NET_PATH, tty());
      ASSERT_TRUE(server.start());
      const RunResult monitor =
          run({"monitor", "--port", rfc2217 ? server.rfc2217Url() : server.tcpUrl(), "--poll", "5",
               "--subscribe", "5:1,5:2,5:3,5:4", "--adc-period", "50", "--duration", "6"});
      EXPECT_EQ(monitor.status, 0) << monitor.err;
      std::set<std::string> loopsRead;
      for (const std::string& line : monitor.lines()) {
        std::smatch m;
        EXPECT_FALSE(std::regex_search(line, std::regex("\t(false|new|lost)\t"))) << monitor.out;
        if (!std::regex_search(line, m, std::regex("\tadc\t5\t(\\d)\t(\\d+)\t"))) continue;
        EXPECT_EQ(m[2], std::to_string(10 * std::stoi(m[1]))) << monitor.out;
        loopsRead.insert(m[1]);
      }
      EXPECT_EQ(loopsRead, (std::set<std::string>{"1", "2", "3", "4"})) << monitor.out;
      loopsim.reset();
    }
  }
}

TEST_F(Loopctl, CalibrateStoresTheCoefficientsAndCoeffsReadsThem) {
  EXPECT_EQ(run({"coeffs", "--type", "1", "--version", "154"}).lines(),
            (Lines{"[1-154]", "; built-in", "a=408", "b=-1"}));
  EXPECT_EQ(
      run({"calibrate", "--r1", "1.04", "--acp1", "200", "--r2", "3.08", "--acp2", "100"}).lines(),
      (Lines{"a=408", "b=-1"}));
  EXPECT_FALSE(std::filesystem::exists(coefficientsFile())) << "no type, nothing stored";

  // Either separator is taken, whatever the locale; the file gets the locale's.
  const RunResult saved = run({"calibrate", "--type", "2", "--version", "105", "--r1", "1,04",
                               "--acp1", "200", "--r2", "3.08", "--acp2", "100"});
  EXPECT_EQ(saved.lines(), (Lines{"[2-105]", "a=408", "b=-1"})) << saved.err;
  EXPECT_EQ(run({"coeffs", "--type", "2", "--version", "105"}).lines(),
            (Lines{"[2-105]", "ACP1=200", "ACP2=100", "R1=1.04", "R2=3.08", "a=408", "b=-1"}));
}

TEST_F(Loopctl, ScanOfAnAddressListAsJsonAndCsv) {
  startLoopsim(false);
  const RunResult json = run({"scan", "--port", tty(), "--addr", "20,1-9,127", "--json"});
  EXPECT_EQ(json.status, 0) << json.err;
  std::vector<std::map<std::string, std::string>> devices;
  for (const std::string& line : json.lines()) devices.push_back(jsonFields(line));
  EXPECT_EQ(devices,
            (std::vector<std::map<std::string, std::string>>{
                {{"addr", "127"}, {"type", "9"}, {"name", "\"Hovra-Y\""}, {"version", "1.01"}},
                {{"addr", "9"}, {"type", "1"}, {"name", "\"Mivra-Q\""}, {"version", "1.60"}},
                {{"addr", "20"}, {"type", "4"}, {"name", "\"Hovra-J\""}, {"version", "1.02"}},
            }));
  EXPECT_NE(json.err.find("\n3 found, 11 addresses probed in "), std::string::npos) << json.err;

  EXPECT_EQ(run({"scan", "--port", tty(), "--addr=9-20", "--csv"}).lines(),
            (Lines{"addr,type,name,version", "9,1,Mivra-Q,1.60", "20,4,Hovra-J,1.02"}));

  const RunResult none = run({"scan", "--port", tty(), "--addr", "30-32"});
  EXPECT_EQ(none.status, 3);
  EXPECT_TRUE(none.out.empty()) << none.out;
  EXPECT_TRUE(
      std::regex_search(none.err, std::regex("\nloopctl: no device answers at 30-32 .*\n$")))
      << none.err;
}

TEST_F(Loopctl, CtrlCEndsAPeriodicReadingWithStatus130) {
  startLoopsim(false);
  const pid_t reading =
      start({"read", "--port", tty(), "--addr", "9", "--skip", "2-20", "--period", "1"});
  // The first row shows that the reading runs, and so that its handler is set.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::ranges::count(slurp(folder.file("out")), '\n') < 3 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::kill(reading, SIGINT);
  const RunResult ended = finish(reading);
  EXPECT_EQ(ended.status, 130) << ended.err;
  EXPECT_EQ(ended.lines().back(), "1\t100\t3.1");
}

}  // namespace
}  // namespace loopmon

namespace loopmon {
namespace {

// Loop 3 of device 9 plays these readings in turn, one per read; it rests at
// 96, so 45 is an alarm in the state view and a resistance in the ADC view,
// where 0 is open and 255 short.
const std::vector<int> Script{96, 45, 0, 96, 255, 45, 96};
const char* const ScriptedBus =
    "[bus]\ndrift = no\n[device 9]\ntype = 1\nversion = 160\n"
    "loop.3 = script 96 45 0 96 255 45 96\n";

int adcViewClass(int adc) {
  return adc == 0 ? 1 : adc == 255 ? 2 : 0;
}

// Moves between the classes of consecutive readings.
int movesOf(const std::vector<int>& readings, int (*classOf)(int)) {
  int moves = 0;
  for (size_t i = 1; i < readings.size(); ++i)
    moves += classOf(readings[i]) != classOf(readings[i - 1]);
  return moves;
}

TEST_F(Loopctl, PeriodicSummaryCountsTheMovesTheLoopMade) {
  std::ofstream(folder.file("bus.ini")) << ScriptedBus;
  std::ofstream(coefficientsFile()) << "[1-160]\na=408\nb=-1\n";
  startLoopsim(true);

  // Six readings, 96 45 0 96 255 45: into and out of open and short once each;
  // 408 / 96 - 1 = 3.25 and 408 / 45 - 1 = 8.07 kilo-ohms.
  const RunResult adc = run({"read", "--port", "COM1", "--addr", "9", "--skip", "1-2,4-20",
                             "--period", "1", "--passes", "6", "--summary"});
  EXPECT_EQ(adc.status, 0) << adc.err;
  const Lines lines = adc.lines();
  ASSERT_GE(lines.size(), 2u) << adc.out;
  EXPECT_EQ(lines[lines.size() - 2],
            "addr\tloop\treadings\tmin kOhm\tmax kOhm\tmoves\talarm\topen\tshort");
  EXPECT_EQ(lines.back(), "9\t3\t6\t3.3\t8.1\t4\t0/0\t1/1\t1/1");

  // The state view, ended by Ctrl-C after a few passes: the summary still
  // comes after the JSON records, and counts the alarms among the readings it
  // took.
  const pid_t reader = start({"read", "--port", "COM1", "--addr", "9", "--skip", "1-2,4-20",
                              "--state", "--period", "1", "--summary", "--json"});
  std::this_thread::sleep_for(std::chrono::milliseconds(3500));
  kill(reader, SIGINT);
  const RunResult stopped = finish(reader);
  EXPECT_EQ(stopped.status, 130) << stopped.err;
  const std::string json = stopped.out.substr(stopped.out.rfind('\n', stopped.out.size() - 2) + 1);
  std::smatch m;
  ASSERT_TRUE(std::regex_match(
      json, m,
      std::regex(
          R"(\{"addr":9,"loop":3,"readings":(\d+),"min_kohm":null,"min_time":null,)"
          R"("max_kohm":null,"max_time":null,"moves":(\d+),"alarm":\{"in":\d+,"out":\d+\},)"
          R"("open":\{"in":0,"out":0\},"short":\{"in":0,"out":0\},"move_times":\[.*\]\}\n)")))
      << json;
  std::vector<int> taken;
  for (int i = 0; i < std::stoi(m[1]); ++i) taken.push_back(Script[(6 + i) % Script.size()]);
  EXPECT_GE(taken.size(), 2u);
  EXPECT_EQ(std::stoi(m[2]), movesOf(taken, [](int value) { return value == 45 ? 1 : 0; }));
}

// The subscription reports only readings that moved; its summary counts the
// moves between the readings it printed.
TEST_F(Loopctl, MonitorSummaryCountsTheMovesOfTheReportedReadings) {
  std::ofstream(folder.file("bus.ini")) << ScriptedBus;
  startLoopsim(true);
  const RunResult monitor = run({"monitor", "--port", "COM1", "--poll", "9", "--subscribe", "9:3",
                                 "--adc-period", "100", "--duration", "2", "--json", "--summary"});
  EXPECT_EQ(monitor.status, 0) << monitor.err;
  std::vector<int> reported;
  std::string summary;
  for (const std::string& line : monitor.lines()) {
    std::smatch m;
    if (std::regex_match(line, m,
                         std::regex(R"(.*"event":"adc","addr":9,"loop":3,"reading":(\d+),.*)")))
      reported.push_back(std::stoi(m[1]));
    if (line.starts_with(R"({"addr":9,"loop":3,)")) summary = line;
  }
  ASSERT_GE(reported.size(), 3u) << monitor.out;
  EXPECT_NE(summary.find("\"readings\":" + std::to_string(reported.size()) + ",\"min_kohm\""),
            std::string::npos)
      << summary;
  EXPECT_NE(summary.find("\"moves\":" + std::to_string(movesOf(reported, adcViewClass)) + ","),
            std::string::npos)
      << summary;
}

}  // namespace
}  // namespace loopmon

namespace loopmon {

void PrintTo(const LoopRecord& loop, std::ostream* out) {
  const auto shown = [](const std::optional<std::string>& text) {
    return text ? "\"" + *text + "\"" : std::string("null");
  };
  *out << "{loop " << loop.loop << ", adc " << (loop.adc ? std::to_string(*loop.adc) : "null")
       << ", kohm " << (loop.kohm ? std::to_string(*loop.kohm) : "null") << ", text "
       << shown(loop.text) << ", state " << shown(loop.state) << ", conditions "
       << static_cast<int>(loop.condition) << "/" << static_cast<int>(loop.stateCondition) << "}";
}

namespace {

class SiteRecordCommands : public Loopctl {
 protected:
  // Every loop as read --json gives it, in the ADC view and the state view;
  // loops past `last` are left out. read --json shows no conditions: those of
  // `device` are taken.
  std::vector<LoopRecord> readLoops(const DeviceRecord& device, size_t last) {
    std::vector<LoopRecord> loops;
    for (const bool stateView : {false, true}) {
      std::vector<std::string> args{
          "read", "--port", "COM1", "--addr", std::to_string(device.addr), "--all-rows", "--json"};
      if (last < device.loops.size()) {
        args.insert(args.end(), {"--skip", std::to_string(last + 1) + "-127"});
      }
      if (stateView) args.push_back("--state");
      const RunResult read = run(args);
      EXPECT_EQ(read.status, 0) << read.err;
      const Lines lines = read.lines();
      for (size_t i = 0; i < lines.size(); ++i) {
        const Json row = ParseJson(lines[i]);
        const std::optional<std::string> shown =
            row["text"].is_string() ? std::optional(row["text"].get<std::string>()) : std::nullopt;
        if (stateView) {
          loops.at(i).state = shown;
          continue;
        }
        LoopRecord loop;
        loop.loop = row["loop"].get<int>();
        loop.condition = device.loops.at(i).condition;
        loop.stateCondition = device.loops.at(i).stateCondition;
        if (row["adc"].is_number()) loop.adc = row["adc"].get<int>();
        if (row["kohm"].is_number()) loop.kohm = row["kohm"].get<double>();
        loop.text = shown;
        loops.push_back(loop);
      }
    }
    return loops;
  }

  RunResult browser(std::vector<std::string> args) {
    args.insert(args.begin(), {"--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                               "--user-data-dir=" + folder.file("chromium")});
    return run(args, CHROMIUM_PATH);
  }

  // The page holds nothing to fetch or run, a browser shows every device with
  // every loop of the record, and prints it on A4; its picture stays in the
  // build folder.
  void checkPage(const std::string& html, const SiteRecord& record, const std::string& picture) {
    std::string page = slurp(html);
    std::ranges::transform(page, page.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const char* outside : {"<script", "src=", "href=", "url(", "@import", "<link", "<iframe",
                                "<object", "<embed", "http:", "https:"}) {
      EXPECT_EQ(page.find(outside), std::string::npos) << html << " holds " << outside;
    }
    std::filesystem::remove(picture);
    const RunResult dom = browser({"--dump-dom", "--hide-scrollbars", "--window-size=900,4800",
                                   "--screenshot=" + picture, "--no-pdf-header-footer",
                                   "--print-to-pdf=" + html + ".pdf", "file://" + html});
    ASSERT_EQ(dom.status, 0) << dom.err;
    for (const DeviceRecord& device : record.devices) {
      EXPECT_NE(dom.out.find(DeviceDescription(device.addr, device.name, device.version, '.')),
                std::string::npos)
          << int{device.addr};
      // A loop without a row of its own reads as the loop whose row it shares.
      const LoopRecord* rowLoop = nullptr;
      for (const LoopRecord& loop : device.loops) {
        const std::string id =
            "<tr id=\"a" + std::to_string(device.addr) + "-" + std::to_string(loop.loop) + "\">";
        const size_t at = dom.out.find(id);
        if (at == std::string::npos && rowLoop != nullptr) {
          LoopRecord renumbered = loop;
          renumbered.loop = rowLoop->loop;
          EXPECT_EQ(renumbered, *rowLoop) << id << " folded into another loop's row";
          continue;
        }
        rowLoop = &loop;
        const std::string row =
            at == std::string::npos ? "" : dom.out.substr(at, dom.out.find("</tr>", at) - at);
        const std::string shown =
            loop.kohm ? FormatFixed(*loop.kohm, 1, '.') : loop.text.value_or("");
        EXPECT_NE(row.find(shown + "<"), std::string::npos) << id << row;
        EXPECT_NE(row.find(loop.state.value_or("") + "<"), std::string::npos) << id << row;
      }
    }
    EXPECT_GT(std::filesystem::exists(picture) ? std::filesystem::file_size(picture) : 0, 20000u)
        << dom.err;
    EXPECT_NE(slurp(html + ".pdf").find("/MediaBox [0 0 594.9"), std::string::npos)
        << "A4 pages: " << dom.err;
  }
};

TEST_F(SiteRecordCommands, SurveyKeepsWhatReadShowsAndCompareNamesWhatMoved) {
  startLoopsim(true);
  const std::string first = folder.file("first.json");
  const RunResult surveyed = run(
      {"survey", "--port", "COM1", "--addr", "9,20,50,127", "--site", "Склад №1", "--out", first});
  EXPECT_EQ(surveyed.status, 0) << surveyed.err;
  EXPECT_TRUE(surveyed.out.empty()) << surveyed.out;
  for (const char* told : {"(1/4)\n", "device 3 of 3: Адрес:  20  Hovra-J (версия  1.02)\n",
                           "address 127 loop 3: Неизвестный тип устройства: 9\n",
                           "\n3 devices, 151 loops surveyed in "}) {
    EXPECT_NE(surveyed.err.find(told), std::string::npos) << told << " in:\n" << surveyed.err;
  }
  const SiteRecord record = LoadRecord(first);
  EXPECT_EQ(std::tie(record.site, record.port, record.programName),
            std::tie("Склад №1", "COM1", "loopctl"));
  EXPECT_TRUE(std::regex_match(record.time, std::regex(IsoTime))) << record.time;
  ASSERT_EQ(record.devices.size(), 3u);
  // A line controller's first numbers stand for the 127: those without a
  // device show "откл." alike.
  for (const DeviceRecord& device : record.devices) {
    std::vector<LoopRecord> loops = device.loops;
    loops.resize(std::min<size_t>(loops.size(), 7));
    EXPECT_EQ(loops, readLoops(device, 7)) << "device " << int{device.addr};
  }
  const auto& [controller, plain, silent] =
      std::tie(record.devices[0].loops, record.devices[1].loops, record.devices[2].loops);
  EXPECT_EQ(controller.size(), 127u);
  EXPECT_EQ(std::tie(controller[0].text, controller[126].text), std::tie("откл.", "откл."));
  EXPECT_EQ(std::tie(plain[1].text, plain[2].text, plain[2].state),
            std::tie("Обрыв", "КЗ", "тревога"));
  EXPECT_EQ(silent[0], (LoopRecord{1, std::nullopt, std::nullopt, "false", "на охране",
                                   LoopCondition::Unanswered, LoopCondition::Normal}));
  EXPECT_EQ(std::tie(plain[1].condition, plain[2].condition, plain[2].stateCondition),
            std::make_tuple(LoopCondition::Open, LoopCondition::Short, LoopCondition::Alarm));

  const RunResult nothing =
      run({"survey", "--port", "COM1", "--addr", "30-31", "--out", folder.file("none.json")});
  EXPECT_EQ(nothing.status, 3) << nothing.err;
  EXPECT_FALSE(std::filesystem::exists(folder.file("none.json")));

  // The next visit: loop 1 has moved, loop 2 is closed, loop 4 armed, the
  // device at 20 gone.
  SiteRecord later = record;
  later.devices.pop_back();
  std::vector<LoopRecord>& loops = later.devices[1].loops;
  loops[0].kohm = 5.9;
  loops[1] = {2, 100, 3.1, std::nullopt, "на охране", LoopCondition::Normal, LoopCondition::Normal};
  loops[3].state = "на охране";
  const std::string second = folder.file("second.json");
  std::ofstream(second) << RecordJson(later);

  const RunResult same = run({"compare", first, first});
  EXPECT_EQ(same.status, 0) << same.err;
  EXPECT_EQ(same.out, "");
  const RunResult changed = run({"compare", first, second});
  EXPECT_EQ(changed.status, 4) << changed.err;
  EXPECT_EQ(changed.lines(), (Lines{"address 9 loop 1: resistance 3.1 -> 5.9 kOhm (+88 %)",
                                    "address 9 loop 2: open \"Обрыв\" -> 3.1",
                                    "address 9 loop 2: state \"внимание\" -> \"на охране\"",
                                    "address 9 loop 4: state \"не на охране\" -> \"на охране\"",
                                    "address 20: gone (Hovra-J)"}));
  const RunResult tolerant = run({"compare", first, second, "--tolerance=95", "--json"});
  EXPECT_EQ(tolerant.lines().size(), 4u) << tolerant.out;
  EXPECT_EQ(tolerant.lines().front(),
            R"({"addr":9,"loop":2,"what":"open","old":"Обрыв","new":3.1})");

  ASSERT_EQ(run({"report", first, "--html", folder.file("record.html")}).status, 0);
  checkPage(folder.file("record.html"), record, "survey_record.png");
  ASSERT_EQ(
      run({"report", second, "--compare", first, "--html", folder.file("changes.html")}).status, 0);
  checkPage(folder.file("changes.html"), later, "survey_comparison.png");
  const std::string changes = slurp(folder.file("changes.html"));
  EXPECT_NE(changes.find("Изменения с записи от " + LocalTimeText(record.time)), std::string::npos);
  EXPECT_NE(changes.find("<span class=\"was\">было Обрыв</span>"), std::string::npos);

  // The index links the latest record's page, written beside the index where
  // the record has none, with the site's history and its certificate.
  std::filesystem::create_directory(folder.file("index"));
  const std::string index = folder.file("index/sites.html");
  const RunResult indexed =
      run({"sites", folder.path(), "--html", index, "--band", "1:2..4", "--tolerance", "20"});
  EXPECT_EQ(indexed.status, 0) << indexed.err;
  EXPECT_NE(slurp(index).find("href=\"second.html\""), std::string::npos);
  EXPECT_EQ(run({"verify", second, "--html", folder.file("index/second.html")}).status, 0);
  EXPECT_EQ(run({"sites", folder.path(), "--band", "1:4..2"}).status, 2);
}

// The bus as Wireshark shows it, and a site's bus replayed at the office:
// loopsim plays the demo bus, loopctl writes captures of it.
class BusCaptures : public Loopctl {
 protected:
  void serve(const std::vector<std::string>& args) {
    loopsim = std::make_unique<testing::LoopsimProcess>(LOOPSIM_PATH, args);
    ASSERT_TRUE(loopsim->readLine().starts_with("loopsim: serving")) << "loopsim did not start";
  }
  // The dissector's reading of every packet against the trace's own: the
  // meaning, a good checksum, no malformed packet, every answer paired.
  void checkDissected(const std::string& capture) {
    const std::vector<CapturedPacket> packets = readCapture(slurp(capture));
    const testing::TsharkRows rows =
        testing::tsharkFields(TSHARK_PATH, DISSECTOR_PATH, capture,
                              {"loopmon.meaning", "loopmon.checksum.status", "_ws.malformed",
                               "loopmon.request_in", "loopmon.response_in"});
    ASSERT_EQ(rows.size(), packets.size()) << capture;
    size_t answers = 0;
    for (size_t i = 0; i < packets.size(); ++i) {
      const CapturedPacket& p = packets[i];
      const auto& row = rows[i];
      const std::string number = std::to_string(i + 1);
      EXPECT_EQ(row[0], frameMeaning(p.frame, p.answer ? FrameRole::Answer : FrameRole::Request))
          << "packet " << number;
      EXPECT_EQ(row[1], "good") << "packet " << number;
      EXPECT_EQ(row[2], "") << "packet " << number;
      if (!p.answer) continue;
      ++answers;
      ASSERT_FALSE(row[3].empty()) << "packet " << number;
      EXPECT_EQ(rows.at(std::stoul(row[3]) - 1)[4], number);
    }
    EXPECT_GT(answers, 0u) << capture;
  }
};

TEST_F(BusCaptures, ASearchAndAReadingDissectAsTheTraceSaysThem) {
  serve({"serve"});
  const RunResult scan = run({"scan", "--port", "COM1", "--addr", "1-2,5,12,20,63,127",
                              "--trace=" + folder.file("scan.pcapng"), "--trace-format", "pcapng"});
  EXPECT_EQ(scan.status, 0) << scan.err;
  checkDissected(folder.file("scan.pcapng"));
  const RunResult read = run({"read", "--port", "COM1", "--addr", "127", "--trace-format=pcapng",
                              "--trace=" + folder.file("read.pcapng")});
  EXPECT_EQ(read.status, 0) << read.err;
  checkDissected(folder.file("read.pcapng"));
}

TEST_F(BusCaptures, ASurveyReplayedFromItsCaptureGivesTheSameRecord) {
  serve({"serve"});
  const std::string capture = folder.file("site.pcapng");
  // A silent address, a device with an event pending and one whose presence
  // request runs through the checksum table's odd entry.
  const std::vector<std::string> survey{"survey", "--port", "COM1", "--addr", "1,20,63"};
  std::vector<std::string> args = survey;
  args.insert(args.end(), {"--out", folder.file("site.json"), "--trace=" + capture,
                           "--trace-format", "pcapng"});
  ASSERT_EQ(run(args).status, 0);
  loopsim.reset();

  serve({"serve", "--replay", capture});
  args = survey;
  args[2] = "COM3";
  args.insert(args.end(), {"--out", folder.file("office.json")});
  const RunResult replayed = run(args);
  EXPECT_EQ(replayed.status, 0) << replayed.err;
  SiteRecord site = LoadRecord(folder.file("site.json"));
  SiteRecord office = LoadRecord(folder.file("office.json"));
  EXPECT_EQ(site.devices.size(), 2u);
  EXPECT_NE(std::tie(site.time, site.port), std::tie(office.time, office.port));
  site.time = office.time;
  site.port = office.port;
  EXPECT_EQ(site, office);
  loopsim.reset();

  // A file that is not a whole capture is refused by name and reason, and
  // nothing is served.
  const std::string content = slurp(capture);
  std::ofstream(folder.file("cut.pcapng"), std::ios::binary)
      << content.substr(0, content.size() / 2);
  std::ofstream(folder.file("record.pcapng")) << slurp(folder.file("site.json"));
  for (const auto& [file, reason] :
       {std::pair{"cut.pcapng", "truncated"}, std::pair{"record.pcapng", "not a pcapng capture"}}) {
    const RunResult refused = run({"serve", "--replay", folder.file(file)}, LOOPSIM_PATH);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find("cannot replay " + folder.file(file) + ": " + reason),
              std::string::npos)
        << refused.err;
  }
}

// Written whole at the end by the rules of every save: a read-only file
// stays as it was, with nothing left beside it; a missing folder is told
// before the bus is used.
TEST_F(BusCaptures, ACaptureIsWrittenWholeOrNotAtAll) {
  serve({"serve"});
  const std::string kept = folder.file("kept.pcapng");
  std::ofstream(kept) << "an earlier capture";
  std::filesystem::permissions(kept, std::filesystem::perms::owner_read);
  const RunResult refused =
      run({"scan", "--port", "COM1", "--addr", "5", "--trace=" + kept, "--trace-format=pcapng"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(
      refused.err.find("the capture could not be written: " + kept + ": the file is read-only"),
      std::string::npos)
      << refused.err;
  EXPECT_EQ(slurp(kept), "an earlier capture");
  const auto entries = std::distance(std::filesystem::directory_iterator(folder.path()),
                                     std::filesystem::directory_iterator());
  const RunResult nowhere =
      run({"scan", "--port", "COM1", "--addr", "5", "--trace=" + folder.file("none/bus.pcapng"),
           "--trace-format=pcapng"});
  EXPECT_EQ(nowhere.status, 1);
  EXPECT_EQ(nowhere.out, "") << "told before the search";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                          std::filesystem::directory_iterator()),
            entries);
}

}  // namespace
}  // namespace loopmon
