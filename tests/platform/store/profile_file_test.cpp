#include "platform/store/profile_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "scoped_temp_dir.h"

using namespace loopmon;
namespace fs = std::filesystem;

namespace {

class ProfileFileTest : public ::testing::Test {
 protected:
  void TearDown() override { fs::permissions(folder.path(), fs::perms::owner_all); }
  void write(const std::string& text) { loopmon::testing::writeFile(path, text); }
  std::string content() const { return loopmon::testing::readFile(path); }
  size_t files() const {
    return std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator());
  }

  loopmon::testing::ScopedTempDir folder;
  std::string path = folder.file("pcom.ini");
};

}  // namespace

TEST_F(ProfileFileTest, WritesInPlaceThroughACopyKeepingModeAndLink) {
  const std::string real = folder.file("real.ini");
  std::ofstream(real) << "[A]\nx=1\n; note\ny=2\n\n[B]\nx=3\n";
  fs::create_symlink(real, path);
  fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ProfileFile file(path);
  ASSERT_TRUE(file.writeString("a", "X", "9"));
  ASSERT_TRUE(file.writeString("A", "z", "new"));
  ASSERT_TRUE(file.writeString("C", "k", "v"));
  EXPECT_EQ(content(), "[A]\nx=9\n; note\ny=2\nz=new\n\n[B]\nx=3\n[C]\nk=v\n");
  EXPECT_TRUE(fs::is_symlink(path));
  EXPECT_EQ(fs::status(real).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(files(), 2u) << "no temporary file left behind";
  EXPECT_EQ(file.readInt("b", "X", 0), 3);
}

TEST_F(ProfileFileTest, RefusedWritesLeaveTheFileAsItWas) {
  const std::string before = "[A]\r\nx=1\r\n";
  write(before);
  ProfileFile file(path);
  EXPECT_FALSE(file.writeStrings("A", {{"x", "2"}, {"y", "two\nlines"}}));
  EXPECT_FALSE(file.writeString("A]\n[B", "x", "2"));
  EXPECT_FALSE(file.writeString("A", "k=v", "2"));
  EXPECT_FALSE(file.writeString("A", " ", "2"));
  fs::permissions(path, fs::perms::owner_read);
  EXPECT_FALSE(file.writeStrings("A", {{"x", "2"}, {"y", "3"}})) << "read-only file";
  EXPECT_EQ(content(), before);
  EXPECT_EQ(files(), 1u);

  fs::remove(path);
  fs::permissions(folder.path(), fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_FALSE(file.writeString("Port", "Num", "0")) << "read-only folder";
  EXPECT_EQ(files(), 0u);
}

TEST_F(ProfileFileTest, AWriteKeepsEveryOtherLineByteForByte) {
  // The "a" line ends in CR CR LF: it reads with a CR at the end, and must go
  // on doing so after a write elsewhere instead of turning into a clean value.
  const std::string before = "[1-160]\na=408\r\r\n; by hand\r\nb=-1\n[2-105]\nR1=1,04";
  write(before);
  ProfileFile file(path);
  ASSERT_TRUE(file.writeString("2-105", "R2", "3,08"));
  EXPECT_EQ(content(), "[1-160]\na=408\r\r\n; by hand\r\nb=-1\n[2-105]\nR1=1,04\nR2=3,08\n");
  EXPECT_EQ(file.readString("1-160", "a", ""), "408\r");

  // The same CR CR at the file's very end, where the line has no LF yet.
  write("[1-160]\na=408\r\r");
  ASSERT_TRUE(file.writeString("1-160", "b", "-1"));
  EXPECT_EQ(content(), "[1-160]\na=408\r\r\nb=-1\n");
  EXPECT_EQ(file.readString("1-160", "a", ""), "408\r");
}
