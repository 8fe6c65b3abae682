#include <gtest/gtest.h>
#include <locale.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/store/program_folder.h"
#include "platform/store/runtime_folder_posix.h"
#include "platform/system/clock.h"
#include "platform/system/files_posix.h"
#include "platform/system/locale_info.h"
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

TEST(SystemClock, TickCountAndCounterFollowTheSleeps) {
  auto clock = systemClock();
  ASSERT_GT(clock->counterFrequency(), 0);
  const uint32_t tick = clock->tickCountMs();
  const int64_t count = clock->counter();
  clock->sleepMs(20);
  clock->sleepMicros(3000);
  EXPECT_GE(clock->tickCountMs() - tick, 22u);
  EXPECT_GE(clock->counter() - count, clock->counterFrequency() * 23 / 1000);
  for (int64_t micros : {0, 300, 1200}) {
    const int64_t target = clock->counter() + clock->counterFrequency() * micros / 1'000'000;
    waitForCounter(*clock, target);
    EXPECT_GE(clock->counter(), target) << micros;
  }
}

TEST(SystemClock, NowIsLocalTimeInDaysSince1899) {
  ScopedEnv zone("TZ", "UTC-3");  // three hours east of UTC
  ::tzset();
  const double utcDays = 25569.0 + static_cast<double>(::time(nullptr)) / 86400.0;
  EXPECT_NEAR(systemClock()->nowDays() - utcDays, 3.0 / 24.0, 2.0 / 86400.0);
  ::unsetenv("TZ");
  ::tzset();
}

TEST(UserLocale, DecimalSeparatorComesFromTheEnvironment) {
  // A locale of our own with a decimal comma, so the test needs no installed language.
  ScopedTempDir dir;
  std::ofstream(dir.file("comma.def"))
      << "LC_NUMERIC\ndecimal_point \"<U002C>\"\nthousands_sep \"\"\ngrouping -1\nEND LC_NUMERIC\n";
  // Missing categories make localedef warn, and -c writes the locale anyway.
  const std::string command =
      "localedef -c -i " + dir.file("comma.def") + " " + dir.file("xx_COMMA") + " >/dev/null 2>&1";
  if (std::system(command.c_str()) < 0 || !std::filesystem::exists(dir.file("xx_COMMA"))) {
    GTEST_SKIP() << "localedef is not available";
  }
  ScopedEnv path("LOCPATH", dir.path());
  ScopedEnv lang("LANG", std::nullopt);
  {
    ScopedEnv numeric("LC_NUMERIC", "xx_COMMA");
    ScopedEnv all("LC_ALL", std::nullopt);
    EXPECT_EQ(userDecimalSeparator(), ',');
    ScopedEnv allC("LC_ALL", "C");
    EXPECT_EQ(userDecimalSeparator(), '.') << "LC_ALL comes first";
  }
  ScopedEnv all("LC_ALL", "xx_MISSING.UTF-8");
  EXPECT_EQ(userDecimalSeparator(), '.');
  EXPECT_STREQ(::localeconv()->decimal_point, ".") << "the process locale must stay as it was";
}

TEST(Folders, RuntimeFolderIsPrivate) {
  ScopedTempDir dir;
  struct stat st {};
  {
    ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path());
    EXPECT_EQ(runtimeFolder(), dir.path() + "/loopmon/");
    ASSERT_EQ(::stat((dir.path() + "/loopmon").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
  }
  ScopedEnv noRuntime("XDG_RUNTIME_DIR", std::nullopt);
  const std::string fallback = runtimeFolder();
  EXPECT_EQ(fallback, "/tmp/loopmon-" + std::to_string(::getuid()) + "/");
  ASSERT_EQ(::stat(fallback.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);

  // The shared name taken by someone else (here a link, refused like another
  // user's folder): a fresh private folder, found again by every later call.
  const std::string shared = dir.file("loopmon-7/");
  const std::string pointer = dir.file("cache/loopmon/runtime-folder");
  std::filesystem::create_directory_symlink(dir.path(), dir.file("loopmon-7"));
  const std::string fresh = posix::privateRuntimeFolder(shared, pointer);
  EXPECT_EQ(fresh.rfind(dir.file("loopmon-7."), 0), 0u) << fresh;
  ASSERT_EQ(::lstat(fresh.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0);
  EXPECT_EQ(posix::privateRuntimeFolder(shared, pointer), fresh);
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("loopmon-7"))) << "left as it is";
}

TEST(Folders, FilesBesideTheProgramMoveToTheUserFolderWhenItCannotBeWritten) {
  const auto slurp = [](const std::string& path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  };
  struct Case {
    const char* what;
    bool programWritable;
    const char* besideProgram;  // null: no such file
    const char* inUserFolder;
    bool expectBeside;
    const char* expectContent;
  };
  const Case cases[] = {
      {"a writable folder keeps its file", true, "[1-160]\n", "[2-105]\n", true, "[1-160]\n"},
      {"a writable folder, no file yet", true, nullptr, nullptr, true, ""},
      {"read-only, nothing anywhere", false, nullptr, nullptr, false, ""},
      {"read-only, the file beside is taken over", false, "[1-160]\n", nullptr, false, "[1-160]\n"},
      {"read-only, the user's own copy wins", false, "[1-160]\n", "[2-105]\n", false, "[2-105]\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedTempDir dir;
    const ProgramFileFolders folders{dir.file("bin/"), dir.file("config/loopmon/"),
                                     c.programWritable};
    std::filesystem::create_directories(folders.program);
    if (c.besideProgram) std::ofstream(folders.program + "ohmgauge.kft") << c.besideProgram;
    if (c.inUserFolder) {
      std::filesystem::create_directories(folders.user);
      std::ofstream(folders.user + "ohmgauge.kft") << c.inUserFolder;
    }
    const std::string path = besideProgramPath("ohmgauge.kft", folders);
    EXPECT_EQ(path, (c.expectBeside ? folders.program : folders.user) + "ohmgauge.kft");
    EXPECT_EQ(slurp(path), c.expectContent);
    EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(path).parent_path()))
        << "the first save needs the folder";
  }

  ScopedTempDir dir;
  EXPECT_TRUE(folderWritable(dir.path() + "/"));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "the probe leaves nothing behind";
  EXPECT_FALSE(folderWritable(dir.file("missing/")));
  ScopedEnv config("XDG_CONFIG_HOME", dir.path());
  EXPECT_EQ(userConfigFolder(), dir.path() + "/loopmon/");
}

TEST(UserLanguages, FollowTheEnvironmentAsGettextDoes) {
  struct Case {
    const char* all;
    const char* messages;
    const char* lang;
    const char* language;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases{
      {nullptr, nullptr, "ru_RU.UTF-8", nullptr, {"ru_RU", "ru"}},
      {"C", nullptr, "ru_RU.UTF-8", nullptr, {}},
      {"C.UTF-8", nullptr, nullptr, "ru", {}},
      {nullptr, "de_DE@euro", "ru_RU.UTF-8", nullptr, {"de_DE", "de"}},
      {nullptr, nullptr, "en_US.UTF-8", "de:ru_UA", {"de", "ru_UA", "ru"}},
      {nullptr, nullptr, nullptr, nullptr, {}},
  };
  for (const Case& c : cases) {
    const auto value = [](const char* text) {
      return text ? std::optional<std::string>(text) : std::nullopt;
    };
    ScopedEnv all("LC_ALL", value(c.all));
    ScopedEnv messages("LC_MESSAGES", value(c.messages));
    ScopedEnv lang("LANG", value(c.lang));
    ScopedEnv language("LANGUAGE", value(c.language));
    EXPECT_EQ(userLanguages(), c.expected) << (c.lang ? c.lang : "") << " " << (c.all ? c.all : "");
  }
}

}  // namespace
}  // namespace loopmon
