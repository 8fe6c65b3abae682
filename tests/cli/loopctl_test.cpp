// loopctl end to end: a copy of the program in a folder of its own (so its
// ohmgauge.kft is the test's), a real loopsim on a pseudo-terminal or as the
// simulator server, and the texts the program prints.

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "loopsim_process.h"
#include "platform/registry.h"
#include "scoped_temp_dir.h"
#include "transport/frame.h"
#include "transport/line_settings.h"

namespace loopmon {
namespace {

using testing::LoopsimProcess;
using testing::PrivateRuntimeFolder;
using testing::ScopedEnv;
using testing::ScopedTempDir;

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

const std::vector<std::string> ScannedLines{
    "Адрес: 127  Hovra-Y (версия  1.01)",
    "Адрес:   9  Mivra-Q (версия  1.60)",
    "Адрес:  20  Hovra-J (версия  1.02)",
};

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
  std::vector<std::string> lines() const {
    std::vector<std::string> result;
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

  void startLoopsim(bool server) {
    std::vector<std::string> args{server ? "serve" : "pty", "--scenario", folder.file("bus.ini")};
    if (!server) args.insert(args.end(), {"--link", tty()});
    loopsim = std::make_unique<LoopsimProcess>(LOOPSIM_PATH, args);
    const std::string ready = server ? "loopsim: serving" : "loopsim: linked as";
    for (std::string line = loopsim->readLine(); line.rfind(ready, 0) != 0;
         line = loopsim->readLine()) {
      ASSERT_FALSE(line.empty()) << "loopsim did not start";
    }
  }

  // Runs loopctl with the test's environment plus `environment`.
  RunResult run(const std::vector<std::string>& args, std::vector<std::string> environment = {}) {
    std::vector<std::string> all{program()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    for (char** entry = environ; *entry != nullptr; ++entry) environment.emplace_back(*entry);
    std::vector<char*> envp;
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, folder.file("out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, folder.file("err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    RunResult result;
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
      int status = 0;
      waitpid(pid, &status, 0);
      result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = slurp(folder.file("out"));
    result.err = slurp(folder.file("err"));
    return result;
  }

  // A locale with a decimal comma of our own making, as LOCPATH and
  // LC_NUMERIC settings for loopctl; empty when localedef is missing.
  std::vector<std::string> commaLocale() {
    std::ofstream(folder.file("comma.def"))
        << "LC_NUMERIC\ndecimal_point \"<U002C>\"\nthousands_sep \"\"\ngrouping -1\nEND "
           "LC_NUMERIC\n";
    const std::string command = "localedef -c -i " + folder.file("comma.def") + " " +
                                folder.file("xx_COMMA") + " >/dev/null 2>&1";
    if (std::system(command.c_str()) < 0 ||
        !std::filesystem::exists(folder.file("xx_COMMA/LC_NUMERIC"))) {
      return {};
    }
    // glibc's newlocale() never frees its copy of LOCPATH: the C library's
    // leak, not loopctl's.
    std::ofstream(folder.file("lsan.supp")) << "leak:__argz_create_sep\nleak:__argz_add_sep\n";
    return {"LOCPATH=" + folder.path(), "LC_ALL=", "LC_NUMERIC=xx_COMMA",
            "LSAN_OPTIONS=print_suppressions=0:suppressions=" + folder.file("lsan.supp")};
  }

  ScopedTempDir folder;
  PrivateRuntimeFolder runtime;
  ScopedEnv config{"XDG_CONFIG_HOME", folder.file("config")};
  ScopedEnv locale{"LC_ALL", "C"};
  std::unique_ptr<LoopsimProcess> loopsim;
};

// A failure: exactly one line on standard error, naming the problem, and
// nothing on standard output.
void ExpectFailure(const RunResult& run, const std::string& problem) {
  EXPECT_NE(run.status, 0);
  EXPECT_TRUE(run.out.empty()) << run.out;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_NE(run.err.find(problem), std::string::npos) << run.err;
}

TEST_F(Loopctl, ScanOverTheLineListsTheScenario) {
  startLoopsim(false);
  const RunResult scan = run({"scan", "--port", tty()});
  EXPECT_EQ(scan.status, 0) << scan.err;
  EXPECT_EQ(scan.lines(), ScannedLines);
  EXPECT_TRUE(scan.err.empty()) << "no progress line off a terminal: " << scan.err;
}

TEST_F(Loopctl, ReadOverTheLineShowsTheLoopTexts) {
  startLoopsim(false);
  std::ofstream(coefficientsFile()) << "[1-160]\na=408\nb=-1\n";

  const RunResult adc = run({"read", "--port", tty(), "--addr", "9", "--skip", "6-20"});
  EXPECT_EQ(adc.status, 0) << adc.err;
  EXPECT_EQ(adc.lines(), (std::vector<std::string>{
                             ScannedLines[1], "Номер ШС\tПоказание АЦП\tR кОм", "1\t100\t3.1",
                             "2\t0\tОбрыв", "3\t255\tКЗ", "4\t160\t1.6", "5\t96\t3.3"}));

  const RunResult states =
      run({"read", "--port", tty(), "--addr", "9", "--state", "--skip", "6-20"});
  EXPECT_EQ(states.lines(), (std::vector<std::string>{ScannedLines[1], "Номер ШС\tСостояние ШС",
                                                      "1\tна охране", "2\tвнимание", "3\tтревога",
                                                      "4\tне на охране", "5\tотключен"}));

  const RunResult lineDevices = run({"read", "--port", tty(), "--addr", "127"});
  EXPECT_EQ(
      lineDevices.lines(),
      (std::vector<std::string>{ScannedLines[0], "Номер ШС\tПоказание АЦП\tR кОм", "1\t0\tоткл."}));

  const auto comma = commaLocale();
  if (comma.empty()) GTEST_SKIP() << "localedef is not available";
  const RunResult csv = run({"read", "--port", tty(), "--addr", "9", "--skip", "2-20", "--csv",
                             "--period", "1", "--passes", "2"},
                            comma);
  EXPECT_EQ(csv.status, 0) << csv.err;
  const std::vector<std::string> rows = csv.lines();
  ASSERT_EQ(rows.size(), 3u) << csv.out;
  EXPECT_EQ(rows[0], "Время;Номер ШС;Показание АЦП;R кОм");
  const std::regex row(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3};1;100;3,1)");
  EXPECT_TRUE(std::regex_match(rows[1], row)) << rows[1];
  EXPECT_TRUE(std::regex_match(rows[2], row)) << rows[2];
  EXPECT_GE(rows[2].substr(11), rows[1].substr(11));
}

TEST_F(Loopctl, SendPrintsTheAnswer) {
  startLoopsim(false);
  const RunResult send = run({"send", "--port", tty(), "9", "6", "0", "13", "0", "0"});
  EXPECT_EQ(send.status, 0) << send.err;
  const uint8_t checksum = FrameChecksum(Bytes{9, 5, 0, 1, 160});
  char hex[8];
  std::snprintf(hex, sizeof hex, "%02X", checksum);
  EXPECT_EQ(send.lines(),
            (std::vector<std::string>{
                std::string("09 05 00 01 A0 ") + hex,
                "address 9, length 5, code 0, data 1 160, checksum " + std::to_string(checksum)}));
}

TEST_F(Loopctl, EverythingGoesToTheSimulatorServerWhenItRuns) {
  startLoopsim(true);
  const RunResult scan = run({"scan", "--port", "COM1"});
  EXPECT_EQ(scan.status, 0) << scan.err;
  EXPECT_EQ(scan.lines(), ScannedLines);
  const RunResult states =
      run({"read", "--port", "COM2", "--addr", "9", "--state", "--skip", "2-20"});
  EXPECT_EQ(states.lines(),
            (std::vector<std::string>{ScannedLines[1], "Номер ШС\tСостояние ШС", "1\tна охране"}));
}

TEST_F(Loopctl, BadInputIsOneLineOnStandardError) {
  startLoopsim(false);
  ExpectFailure(run({"read", "--port", tty(), "--addr", "0"}), "0 is outside 1..127");
  ExpectFailure(run({"read", "--port", tty(), "--addr", "128"}), "128 is outside 1..127");
  ExpectFailure(run({"read", "--port", tty(), "--addr", "x5"}), "'x5' is not a number");
  ExpectFailure(run({"read", "--port", tty(), "--addr", "50"}), "no device answers at address 50");
  ExpectFailure(run({"read", "--port", tty(), "--addr", "9", "--period", "31"}),
                "31 is outside 1..30");
  ExpectFailure(run({"scan", "--port", "COM7"}), "unknown port COM7");
  ExpectFailure(run({"scan", "--port", folder.file("missing")}), "unknown port");
  ExpectFailure(run({"scan", "--port", tty(), "--fast"}), "unknown option --fast");
  ExpectFailure(run({"send", "--port", tty(), "9", "6", "0", "256", "0", "0"}),
                "256 is outside 0..255");
  ExpectFailure(run({"frobnicate"}), "unknown command frobnicate");

  const int held = ::open(tty().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  ExpectFailure(run({"scan", "--port", tty()}), "cannot be opened");
  ::close(held);
}

TEST_F(Loopctl, CalibrateStoresTheCoefficientsAndCoeffsReadsThem) {
  const RunResult builtIn = run({"coeffs", "--type", "1", "--version", "154"});
  EXPECT_EQ(builtIn.lines(), (std::vector<std::string>{"[1-154]", "; built-in", "a=408", "b=-1"}));

  const RunResult computed =
      run({"calibrate", "--r1", "1.04", "--acp1", "200", "--r2", "3.08", "--acp2", "100"});
  EXPECT_EQ(computed.lines(), (std::vector<std::string>{"a=408", "b=-1"}));
  EXPECT_FALSE(std::filesystem::exists(coefficientsFile()));

  const RunResult saved = run({"calibrate", "--type", "2", "--version", "105", "--r1", "1.04",
                               "--acp1", "200", "--r2", "3.08", "--acp2", "100"});
  EXPECT_EQ(saved.status, 0) << saved.err;
  EXPECT_EQ(saved.lines(), (std::vector<std::string>{"[2-105]", "a=408", "b=-1"}));
  const RunResult stored = run({"coeffs", "--type", "2", "--version", "105"});
  EXPECT_EQ(stored.lines(), (std::vector<std::string>{"[2-105]", "ACP1=200", "ACP2=100", "R1=1.04",
                                                      "R2=3.08", "a=408", "b=-1"}));

  const std::string before = slurp(coefficientsFile());
  ExpectFailure(run({"calibrate", "--type", "2", "--version", "105", "--r1", "1.04", "--acp1", "0",
                     "--r2", "3.08", "--acp2", "100"}),
                "Floating point division by zero");
  ExpectFailure(run({"calibrate", "--type", "2", "--version", "105", "--r1", "1,04", "--acp1",
                     "200", "--r2", "3.08", "--acp2", "100"}),
                "'1,04' is not a valid floating point value");
  EXPECT_EQ(slurp(coefficientsFile()), before);

  const auto comma = commaLocale();
  if (comma.empty()) GTEST_SKIP() << "localedef is not available";
  const RunResult commaSaved = run({"calibrate", "--type", "1", "--version", "0", "--r1", "1,04",
                                    "--acp1", "200", "--r2", "3,08", "--acp2", "100"},
                                   comma);
  EXPECT_EQ(commaSaved.lines(), (std::vector<std::string>{"[1-0]", "a=408", "b=-1"}));
}

}  // namespace
}  // namespace loopmon
