#include <gtest/gtest.h>
#include <locale.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/clock.h"
#include "platform/locale_info.h"
#include "platform/platform.h"
#include "platform/program_folder.h"
#include "scoped_temp_dir.h"

// glibc's newlocale() never frees its copy of LOCPATH, which only the locale
// test sets; that is the C library's leak, not ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:__argz_create_sep\nleak:__argz_add_sep\n";
}

namespace loopmon {
namespace {

using testing::ScopedEnv;
using testing::ScopedTempDir;

TEST(SystemClock, TickCountAndCounterFollowASleep) {
  auto clock = systemClock();
  ASSERT_GT(clock->counterFrequency(), 0);
  uint32_t tick = clock->tickCountMs();
  int64_t count = clock->counter();
  clock->sleepMs(20);
  EXPECT_GE(clock->tickCountMs() - tick, 19u);
  EXPECT_GE(clock->counter() - count, clock->counterFrequency() / 50);

  count = clock->counter();
  clock->sleepMicros(3000);
  EXPECT_GE(clock->counter() - count, clock->counterFrequency() * 3 / 1000);
}

TEST(SystemClock, WaitForCounterReachesTheTarget) {
  auto clock = systemClock();
  for (int64_t micros : {0, 300, 1200, 5000}) {
    int64_t target = clock->counter() + clock->counterFrequency() * micros / 1'000'000;
    waitForCounter(*clock, target);
    EXPECT_GE(clock->counter(), target) << micros;
  }
}

TEST(SystemClock, NowIsLocalTimeInDaysSince1899) {
  ScopedEnv zone("TZ", "UTC-3");  // three hours east of UTC
  ::tzset();
  double utcDays = 25569.0 + static_cast<double>(::time(nullptr)) / 86400.0;
  double local = systemClock()->nowDays();
  EXPECT_NEAR(local - utcDays, 3.0 / 24.0, 2.0 / 86400.0);
  ::unsetenv("TZ");
  ::tzset();
}

// A locale of our own with a decimal comma, so the test needs no installed
// language; empty when localedef is missing.
std::string buildCommaLocale(const ScopedTempDir& dir) {
  std::ofstream(dir.file("comma.def")) << "LC_NUMERIC\n"
                                          "decimal_point \"<U002C>\"\n"
                                          "thousands_sep \"\"\n"
                                          "grouping -1\n"
                                          "END LC_NUMERIC\n";
  // Missing categories make localedef warn, and -c writes the locale anyway.
  std::string command =
      "localedef -c -i " + dir.file("comma.def") + " " + dir.file("xx_COMMA") + " >/dev/null 2>&1";
  int ignored = std::system(command.c_str());
  (void)ignored;
  return std::filesystem::exists(dir.file("xx_COMMA/LC_NUMERIC")) ? "xx_COMMA" : "";
}

TEST(UserLocale, DecimalSeparatorComesFromTheEnvironment) {
  ScopedTempDir dir;
  std::string comma = buildCommaLocale(dir);
  if (comma.empty()) GTEST_SKIP() << "localedef is not available";
  ScopedEnv path("LOCPATH", dir.path());
  ScopedEnv lang("LANG", std::nullopt);
  {
    ScopedEnv all("LC_ALL", std::nullopt);
    ScopedEnv numeric("LC_NUMERIC", comma);
    EXPECT_EQ(userDecimalSeparator(), ',');
  }
  {
    ScopedEnv all("LC_ALL", "C");
    ScopedEnv numeric("LC_NUMERIC", comma);
    EXPECT_EQ(userDecimalSeparator(), '.') << "LC_ALL comes first";
  }
  {
    ScopedEnv all("LC_ALL", std::nullopt);
    ScopedEnv numeric("LC_NUMERIC", std::nullopt);
    ScopedEnv lang("LANG", comma);
    EXPECT_EQ(userDecimalSeparator(), ',');
  }
  {
    ScopedEnv all("LC_ALL", "xx_MISSING.UTF-8");
    EXPECT_EQ(userDecimalSeparator(), '.');
  }
  EXPECT_STREQ(::localeconv()->decimal_point, ".") << "the process locale must stay as it was";
}

TEST(Folders, ProgramFolderHoldsTheRunningProgram) {
  std::string folder = programFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_TRUE(std::filesystem::exists(folder + "platform_system_test"));
}

TEST(Folders, RuntimeFolderIsPrivate) {
  ScopedTempDir dir;
  {
    ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path());
    EXPECT_EQ(runtimeFolder(), dir.path() + "/loopmon/");
    struct stat st {};
    ASSERT_EQ(::stat((dir.path() + "/loopmon").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
  }
  ScopedEnv noRuntime("XDG_RUNTIME_DIR", std::nullopt);
  std::string fallback = runtimeFolder();
  EXPECT_EQ(fallback, "/tmp/loopmon-" + std::to_string(::getuid()) + "/");
  struct stat st {};
  ASSERT_EQ(::stat(fallback.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);
}

TEST(Platform, SystemBundlesTheRealServicesOfACurrentNtLikeSystem) {
  ScopedTempDir dir;
  ScopedEnv config("XDG_CONFIG_HOME", dir.path());
  Platform p = Platform::system();
  ASSERT_TRUE(p.clock && p.registry && p.markers && p.simulatorLink);
  EXPECT_TRUE(p.isNt);
  EXPECT_FALSE(p.isNt5);
  EXPECT_FALSE(p.makeBusDriver()->open()) << "there is no bus driver here";
  EXPECT_FALSE(p.makeSerialPort()->open(dir.file("missing")));
  ASSERT_TRUE(p.registry->createKey("Software"));
  EXPECT_TRUE(std::filesystem::exists(dir.file("loopmon/system.reg")));
}

}  // namespace
}  // namespace loopmon
