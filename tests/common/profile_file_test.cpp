#include "platform/profile_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace loopmon;
namespace fs = std::filesystem;

namespace {

class ProfileFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("profile_test_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    path_ = (folder_ / "pcom.ini").string();
  }
  void TearDown() override {
    fs::permissions(folder_, fs::perms::owner_all);
    fs::remove_all(folder_);
  }
  void write(const std::string& content) { std::ofstream(path_, std::ios::binary) << content; }
  std::string content() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  size_t filesInFolder() const {
    return std::distance(fs::directory_iterator(folder_), fs::directory_iterator());
  }

  fs::path folder_;
  std::string path_;
};

}  // namespace

TEST_F(ProfileFileTest, MissingFileReadsAsEmpty) {
  const ProfileFile file(path_);
  EXPECT_EQ(file.readString("Port", "Num", "dflt"), "dflt");
  EXPECT_EQ(file.readInt("Port", "Num", 0), 0);
  EXPECT_TRUE(file.keys("Port").empty());
}

TEST_F(ProfileFileTest, HandWrittenFileWithBlanksAndMixedCase) {
  write(
      "; settings\r\n  [ Port ]  \r\n  NUM =  3 \r\nName= two words  "
      "\r\nempty=\r\n\r\n[other]\r\nnum=9\r\n");
  const ProfileFile file(path_);
  EXPECT_EQ(file.readInt("port", "num", 0), 3);
  EXPECT_EQ(file.readString("PORT", "name", "x"), "two words");
  EXPECT_EQ(file.readString("Port", "empty", "x"), "") << "a present empty key is not the default";
  EXPECT_EQ(file.readString("Port", "missing", "x"), "x");
  EXPECT_EQ(file.keys("port"), (std::vector<std::string>{"NUM", "Name", "empty"}));
  EXPECT_EQ(file.readInt("Other", "NUM", 0), 9);
}

TEST_F(ProfileFileTest, IntegerValues) {
  write("[P]\na=0x1A\nb=$10\nc=-5\nd=12abc\ne=abc\nf=\n");
  const ProfileFile file(path_);
  EXPECT_EQ(file.readInt("P", "a", 7), 26);
  EXPECT_EQ(file.readInt("P", "b", 7), 16);
  EXPECT_EQ(file.readInt("P", "c", 7), -5);
  EXPECT_EQ(file.readInt("P", "d", 7), 12);
  EXPECT_EQ(file.readInt("P", "e", 7), 0);
  EXPECT_EQ(file.readInt("P", "f", 7), 0);
  EXPECT_EQ(file.readInt("P", "g", 7), 7);
  EXPECT_EQ(file.readInt("Q", "a", 7), 7);
}

TEST_F(ProfileFileTest, WritesInPlaceAndAppends) {
  write("[A]\nx=1\n; note\ny=2\n\n[B]\nx=3\n");
  ProfileFile file(path_);
  ASSERT_TRUE(file.writeString("a", "X", "9"));
  ASSERT_TRUE(file.writeString("A", "z", "new"));
  ASSERT_TRUE(file.writeString("C", "k", "v"));
  EXPECT_EQ(content(), "[A]\nx=9\n; note\ny=2\nz=new\n\n[B]\nx=3\n[C]\nk=v\n");
  EXPECT_EQ(file.readString("b", "x", ""), "3");
}

TEST_F(ProfileFileTest, KeepsWindowsLineEnds) {
  write("[Port]\r\nNum=1\r\n");
  ProfileFile file(path_);
  ASSERT_TRUE(file.writeStrings("Port", {{"Num", "2"}, {"Extra", " x "}}));
  EXPECT_EQ(content(), "[Port]\r\nNum=2\r\nExtra= x \r\n");
  EXPECT_EQ(file.readString("Port", "Extra", ""), "x");
}

TEST_F(ProfileFileTest, CreatesTheFileAndKeepsItsMode) {
  ProfileFile file(path_);
  ASSERT_TRUE(file.writeString("Port", "Num", "0"));
  EXPECT_EQ(content(), "[Port]\nNum=0\n");
  fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ASSERT_TRUE(file.writeString("Port", "Num", "1"));
  EXPECT_EQ(fs::status(path_).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(filesInFolder(), 1u) << "no temporary file left behind";
}

TEST_F(ProfileFileTest, WritesThroughASymbolicLink) {
  const std::string real = (folder_ / "real.ini").string();
  std::ofstream(real) << "[S]\nk=1\n";
  fs::create_symlink(real, path_);
  ASSERT_TRUE(ProfileFile(path_).writeString("S", "k", "2"));
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_EQ(ProfileFile(real).readString("S", "k", ""), "2");
}

TEST_F(ProfileFileTest, RefusedWritesLeaveTheFileIntact) {
  const std::string before = "[A]\r\nx=1\r\n";
  write(before);
  ProfileFile file(path_);
  EXPECT_FALSE(file.writeStrings("A", {{"x", "2"}, {"y", "two\nlines"}}));
  EXPECT_FALSE(file.writeString("A", "x\r\ny", "2"));
  EXPECT_FALSE(file.writeString("A]\n[B", "x", "2"));
  EXPECT_FALSE(file.writeString("A", "k=v", "2"));
  EXPECT_FALSE(file.writeString("A", " ", "2"));
  EXPECT_EQ(content(), before);

  fs::permissions(path_, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_FALSE(file.writeStrings("A", {{"x", "2"}, {"y", "3"}})) << "read-only file";
  EXPECT_EQ(content(), before);
  EXPECT_EQ(filesInFolder(), 1u);
}

TEST_F(ProfileFileTest, ReadOnlyFolderRefusesANewFile) {
  fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_FALSE(ProfileFile(path_).writeString("Port", "Num", "0"));
  fs::permissions(folder_, fs::perms::owner_all);
  EXPECT_FALSE(fs::exists(path_));
  EXPECT_EQ(filesInFolder(), 0u);
}
