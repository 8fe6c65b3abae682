// The stores and the one writer under them, against real files: a store that
// is there but cannot be read is never taken for an empty one, a FIFO is
// never waited on, and a replacement (or a trace) neither follows a link
// another user planted nor ignores the umask.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>

#include "loops/coeffs.h"
#include "platform/store/profile_file.h"
#include "platform/store/registry.h"
#include "platform/store/whole_file.h"
#include "scoped_temp_dir.h"

namespace loopmon {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::writeFile;

TEST(StoreFiles, AStoreThatCannotBeReadIsAnErrorNothingIsWrittenAndTheUmaskHolds) {
  using Use = std::function<void(const std::string& path)>;
  const CalibrationPoints points{"200", "100", "1,04", "3,08"};
  const struct {
    const char* file;
    Use read, write;
  } stores[] = {
      {"system.reg", [](auto& path) { openRegistryFile(path)->read("K", "V"); },
       [](auto& path) { openRegistryFile(path)->createKey("K"); }},
      {"pcom.ini", [](auto& path) { ProfileFile(path).readInt("Port", "Num", 0); },
       [](auto& path) { ProfileFile(path).writeString("Port", "Num", "1"); }},
      {"ohmgauge.kft", [](auto& path) { CoefficientsStore(path, ',').Lookup(1, 160); },
       [&](auto& path) { CoefficientsStore(path, ',').Save(1, 160, 1, "1,60", points); }},
  };
  testing::ScopedTempDir dir;
  for (const auto& store : stores) {
    // A folder in the file's place cannot be read, whoever runs the test.
    const std::string path = dir.file(store.file);
    fs::create_directory(path);
    for (const Use& use : {store.read, store.write}) {
      try {
        use(path);
        ADD_FAILURE() << store.file << ": taken for an empty store";
      } catch (const FileError& error) {
        EXPECT_STREQ(error.what(), (path + ": not a regular file").c_str());
      }
    }
    EXPECT_TRUE(fs::is_empty(path)) << store.file;
  }

  // Neither a FIFO nor a device is read or written whole, nor waited on.
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, std::string("/dev/zero")}) {
    EXPECT_THROW(readWholeFile(path), FileError) << path;
  }
  EXPECT_THROW(openOwnFileForWriting(fifo), FileError);

  const mode_t umask = ::umask(077);
  replaceWholeFile(dir.file("new"), "x");
  ::umask(umask);
  EXPECT_EQ(fs::status(dir.file("new")).permissions(),
            fs::perms::owner_read | fs::perms::owner_write)
      << "a new file takes the umask";
}

// True when `body` returns true in a child process running as `uid`.
bool asUser(uid_t uid, const std::function<bool()>& body) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(uid) != 0 || ::setuid(uid) != 0) ::_exit(2);
    ::_exit(body() ? 0 : 1);
  }
  int status = 0;
  return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// What keeps a file from being read is said in the same words on every
// platform, as an ordinary user meets it (the super-user reads whatever the
// permissions say).
TEST(StoreFiles, AFileThatCannotBeReadSaysWhy) {
  testing::ScopedTempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  const std::string locked = dir.file("locked.json");
  writeFile(locked, "{}");
  ::chmod(locked.c_str(), 0);
  fs::create_directory(dir.file("folder"));
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0666), 0);
  const std::pair<std::string, const char*> cases[] = {
      {locked, "permission denied"},
      {dir.file("folder"), "not a regular file"},
      {dir.file("fifo"), "not a regular file"},
  };
  const auto reasons = [&] {
    bool all = true;
    for (const auto& [path, reason] : cases) {
      std::string told = "read";
      try {
        readWholeFile(path);
      } catch (const FileError& error) {
        told = error.reason();
      }
      if (told != reason) std::fprintf(stderr, "%s: %s\n", path.c_str(), told.c_str());
      all = all && told == reason;
    }
    return all;
  };
  EXPECT_TRUE(::geteuid() == 0 ? asUser(65534, reasons) : reasons());
  EXPECT_EQ(readWholeFile(dir.file("missing")), std::nullopt) << "a missing store is empty";
}

// A program folder that others may write: what another user leaves there is
// never written through, and the user's own links keep working.
TEST(StoreFiles, LinksAndFilesOfAnotherUserAreNotReplaced) {
  if (::geteuid() != 0) GTEST_SKIP() << "only the super-user can make files of other users";
  constexpr uid_t Victim = 65534;
  constexpr uid_t Other = 65533;
  testing::ScopedTempDir dir;
  ::chmod(dir.path().c_str(), 0777);
  const std::string profile = dir.file("home-profile");
  const std::string kft = dir.file("ohmgauge.kft");
  const std::string original = "export PATH\n";
  const struct {
    const char* what;
    uid_t owner;  // of the link at ohmgauge.kft, or of the file there
    bool link;
    bool replaced;
  } cases[] = {
      {"a link another user planted", Other, true, false},
      {"the user's own link", Victim, true, true},
      {"a link of the folder's owner", 0, true, true},
      {"a file of another user", Other, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(kft);
    writeFile(profile, original);
    ASSERT_EQ(::chown(profile.c_str(), Victim, Victim), 0);
    const std::string written = c.link ? profile : kft;
    if (c.link) {
      fs::create_symlink(profile, kft);
    } else {
      writeFile(kft, original);
      ::chmod(kft.c_str(), 0666);
    }
    ASSERT_EQ(::lchown(kft.c_str(), c.owner, c.owner), 0);
    // A file written as it goes (a trace) under the same rule: refused, it
    // leaves the file as it was.
    EXPECT_EQ(asUser(Victim,
                     [&] {
                       try {
                         std::FILE* trace = openOwnFileForWriting(kft);
                         std::fputs(original.c_str(), trace);
                         return std::fclose(trace) == 0;
                       } catch (const FileError&) {
                         return false;
                       }
                     }),
              c.replaced);
    EXPECT_EQ(readFile(written), original);
    EXPECT_EQ(asUser(Victim, [&] { return ProfileFile(kft).writeString("1-160", "a", "408"); }),
              c.replaced);
    EXPECT_EQ(readFile(written) == original, !c.replaced) << readFile(written);
    EXPECT_EQ(fs::is_symlink(kft), c.link);
  }

  // The super-user's replacement of a user's file leaves it the user's.
  replaceWholeFile(profile, "x");
  struct stat st {};
  ASSERT_EQ(::stat(profile.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, Victim);
}

}  // namespace
}  // namespace loopmon
