// loopctl end to end: a copy of the program in a folder of its own (so its
// ohmgauge.kft is the test's), a real loopsim on a pseudo-terminal or as the
// simulator server, and the texts the program prints.

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "loopsim_process.h"
#include "platform/registry.h"
#include "scoped_temp_dir.h"
#include "transport/line_settings.h"

namespace loopmon {
namespace {

using Lines = std::vector<std::string>;

// Type 1 at 9 with pinned loops, type 4 at 20, type 9 at 127.
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
[device 127]
type = 9
version = 101
loop.1 = 0
line.1 = off
)";

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

  RunResult run(std::vector<std::string> args) {
    args.insert(args.begin(), program());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, folder.file("out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, folder.file("err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    RunResult result;
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
      int status = 0;
      waitpid(pid, &status, 0);
      result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = slurp(folder.file("out"));
    result.err = slurp(folder.file("err"));
    return result;
  }

  // A failure: exactly one line on standard error, naming the problem, and
  // nothing on standard output.
  void expectFailure(const std::vector<std::string>& args, const std::string& problem) {
    const RunResult failed = run(args);
    EXPECT_NE(failed.status, 0) << args[0];
    EXPECT_TRUE(failed.out.empty()) << failed.out;
    EXPECT_EQ(std::ranges::count(failed.err, '\n'), 1) << failed.err;
    EXPECT_NE(failed.err.find(problem), std::string::npos) << failed.err;
  }

  testing::ScopedTempDir folder;
  testing::PrivateRuntimeFolder runtime;
  testing::ScopedEnv config{"XDG_CONFIG_HOME", folder.file("config")};
  testing::ScopedEnv locale{"LC_ALL", "C"};
  std::unique_ptr<testing::LoopsimProcess> loopsim;
};

TEST_F(Loopctl, ScanAndReadOverTheLine) {
  startLoopsim(false);
  const RunResult scan = run({"scan", "--port", tty()});
  EXPECT_EQ(scan.status, 0) << scan.err;
  EXPECT_EQ(scan.lines(), ScannedLines);
  EXPECT_TRUE(scan.err.empty()) << "no progress line off a terminal: " << scan.err;

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

  const RunResult csv = run({"read", "--port", tty(), "--addr", "9", "--skip", "2-20", "--csv",
                             "--period", "1", "--passes", "2"});
  const Lines rows = csv.lines();
  ASSERT_EQ(rows.size(), 3u) << csv.out << csv.err;
  EXPECT_EQ(rows[0], "Время,Номер ШС,Показание АЦП,R кОм");
  const std::regex row(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3},1,100,3\.1)");
  EXPECT_TRUE(std::regex_match(rows[1], row)) << rows[1];
  EXPECT_TRUE(std::regex_match(rows[2], row)) << rows[2];

  const RunResult send = run({"send", "--port", tty(), "9", "6", "0", "13", "0", "0"});
  EXPECT_EQ(send.lines(),
            (Lines{"09 05 00 01 A0 19", "address 9, length 5, code 0, data 1 160, checksum 25"}));
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
    for (const char* varying : {"open time", "round trip", "turnaround"}) found.erase(varying);
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
  const std::pair<Lines, std::string> cases[] = {
      {{"read", "--port", tty(), "--addr", "0"}, "0 is outside 1..127"},
      {{"read", "--port", tty(), "--addr", "128"}, "128 is outside 1..127"},
      {{"read", "--port", tty(), "--addr", "x5"}, "'x5' is not a number"},
      {{"read", "--port", tty(), "--addr", "50"}, "no device answers at address 50"},
      {{"read", "--port", tty(), "--addr", "9", "--period", "31"}, "31 is outside 1..30"},
      {{"scan", "--port", "COM257"}, "unknown port COM257"},
      {{"scan", "--port", "COM200"}, "COM200 (/dev/ttyS199): not found"},
      {{"ports", "--map", "COM257=" + tty()}, "'COM257' is not a COM name"},
      {{"scan", "--port", folder.file("missing")}, "unknown port"},
      {{"scan", "--port", tty(), "--fast"}, "unknown option --fast"},
      {{"send", "--port", tty(), "9", "6", "0", "256", "0", "0"}, "256 is outside 0..255"},
      {{"frobnicate"}, "unknown command frobnicate"},
      {{"calibrate", "--type", "2", "--version", "105", "--r1", "1.04", "--acp1", "0", "--r2",
        "3.08", "--acp2", "100"},
       "Floating point division by zero"},
      {{"calibrate", "--type", "2", "--version", "105", "--r1", "1,04", "--acp1", "200", "--r2",
        "3.08", "--acp2", "100"},
       "'1,04' is not a valid floating point value"},
  };
  for (const auto& [args, problem] : cases) expectFailure(args, problem);
  EXPECT_FALSE(std::filesystem::exists(coefficientsFile()))
      << "a refused calibration writes nothing";

  const int held = ::open(tty().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  expectFailure({"scan", "--port", tty()}, "busy: held by another program");
  ::close(held);
}

TEST_F(Loopctl, CalibrateStoresTheCoefficientsAndCoeffsReadsThem) {
  EXPECT_EQ(run({"coeffs", "--type", "1", "--version", "154"}).lines(),
            (Lines{"[1-154]", "; built-in", "a=408", "b=-1"}));
  EXPECT_EQ(
      run({"calibrate", "--r1", "1.04", "--acp1", "200", "--r2", "3.08", "--acp2", "100"}).lines(),
      (Lines{"a=408", "b=-1"}));
  EXPECT_FALSE(std::filesystem::exists(coefficientsFile())) << "no type, nothing stored";

  const RunResult saved = run({"calibrate", "--type", "2", "--version", "105", "--r1", "1.04",
                               "--acp1", "200", "--r2", "3.08", "--acp2", "100"});
  EXPECT_EQ(saved.lines(), (Lines{"[2-105]", "a=408", "b=-1"})) << saved.err;
  EXPECT_EQ(run({"coeffs", "--type", "2", "--version", "105"}).lines(),
            (Lines{"[2-105]", "ACP1=200", "ACP2=100", "R1=1.04", "R2=3.08", "a=408", "b=-1"}));
}

}  // namespace
}  // namespace loopmon
