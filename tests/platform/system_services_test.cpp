#include <gtest/gtest.h>
#include <locale.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>

#include "platform/clock.h"
#include "platform/locale_info.h"
#include "platform/program_folder.h"
#include "scoped_temp_dir.h"

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

TEST(UserLocale, DecimalSeparatorComesFromTheEnvironment) {
  ScopedEnv all("LC_ALL", std::nullopt);
  ScopedEnv lang("LANG", std::nullopt);
  {
    ScopedEnv numeric("LC_NUMERIC", "C");
    EXPECT_EQ(userDecimalSeparator(), '.');
  }
  bool commaLocaleFound = false;
  for (const char* name : {"ru_RU.UTF-8", "de_DE.UTF-8", "fr_FR.UTF-8"}) {
    locale_t probe = ::newlocale(LC_NUMERIC_MASK, name, static_cast<locale_t>(0));
    if (probe == static_cast<locale_t>(0)) continue;
    ::freelocale(probe);
    ScopedEnv numeric("LC_NUMERIC", name);
    EXPECT_EQ(userDecimalSeparator(), ',') << name;
    commaLocaleFound = true;
  }
  EXPECT_STREQ(::localeconv()->decimal_point, ".") << "the process locale must stay as it was";
  if (!commaLocaleFound) GTEST_SKIP() << "no locale with a decimal comma is installed";
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

}  // namespace
}  // namespace loopmon
