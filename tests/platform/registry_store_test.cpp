#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "platform/registry.h"
#include "scoped_temp_dir.h"
#include "whole_replacement.h"

namespace loopmon {
namespace {

using Names = std::vector<std::string>;
constexpr const char* Rs = "Software\\TAVIX\\VELTA\\RS";

class RegistryStore : public ::testing::Test {
 protected:
  std::string content() { return testing::readFile(path_); }
  void put(const std::string& text) { testing::writeFile(path_, text); }

  testing::ScopedTempDir dir_;
  std::string path_ = dir_.file("system.reg");
  std::unique_ptr<Registry> reg_ = openRegistryFile(path_);
};

TEST_F(RegistryStore, TypedValuesSurviveTheFileAndReachAnotherInstance) {
  EXPECT_FALSE(reg_->write(Rs, "X", RegValue::ofDword(1))) << "no such key";
  ASSERT_TRUE(reg_->createKey(Rs));
  const RegValue values[] = {RegValue::ofDword(0x1e), RegValue::ofString(R"(C:\dir "q" \\srv)"),
                             RegValue::ofBinary({0x00, 0xfe, 0xff}), RegValue::ofBinary({}),
                             RegValue::ofString("default")};
  const Names names{"StartTimeout", "Path", "Settings", "Nothing", ""};
  for (size_t i = 0; i < names.size(); ++i) ASSERT_TRUE(reg_->write(Rs, names[i], values[i]));

  std::unique_ptr<Registry> other = openRegistryFile(path_);
  for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(other->read(Rs, names[i]), values[i]);
  EXPECT_EQ(other->valueNames(Rs), names);
  EXPECT_EQ(content(),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\TAVIX\\VELTA\\RS]\n"
            "\"StartTimeout\"=dword:0000001e\n"
            R"("Path"="C:\\dir \"q\" \\\\srv")"
            "\n\"Settings\"=hex:00,fe,ff\n\"Nothing\"=hex:\n@=\"default\"\n\n");
}

TEST_F(RegistryStore, NamesCompareWithoutCaseAndSubkeysKeepTheirOrder) {
  ASSERT_TRUE(reg_->createKey(Rs));
  ASSERT_TRUE(reg_->write(Rs, "TailInUS", RegValue::ofDword(400)));
  ASSERT_TRUE(reg_->write(Rs, "SmartPI", RegValue::ofString("")));
  ASSERT_TRUE(reg_->write("\\software\\tavix\\velta\\rs\\", "TAILINUS", RegValue::ofDword(7)));
  EXPECT_EQ(reg_->read(Rs, "tailinus"), RegValue::ofDword(7));
  EXPECT_EQ(reg_->valueNames(Rs), (Names{"TAILINUS", "SmartPI"}));
  EXPECT_TRUE(reg_->remove(Rs, "smartpi"));
  EXPECT_FALSE(reg_->remove(Rs, "SmartPI"));

  ASSERT_TRUE(reg_->createKey("Enum\\BIOS\\*PNP0501\\0D"));
  ASSERT_TRUE(reg_->createKey("enum\\bios\\*pnp0501\\0A"));
  EXPECT_EQ(reg_->subkeys("Enum\\BIOS\\*PNP0501"), (Names{"0D", "0A"}));
  EXPECT_TRUE(reg_->keyExists("Enum\\BIOS"));
  EXPECT_TRUE(reg_->write("Enum\\BIOS", "Count", RegValue::ofDword(2))) << "a parent takes values";
}

TEST_F(RegistryStore, HandEditedFileIsReadAndItsOtherLinesSurviveAChange) {
  put("Windows Registry Editor Version 5.00\r\n; notes\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\TAVIX\\VELTA\\RS]\r\n"
      "\"IntervalTimeout\"=dword:0000000A\r\nthis line means nothing\r\n\"Bad\"=dword:xyz\r\n"
      "\"Long\"=hex:01,02,\\\r\n  03,04\r\n\"IntervalTimeout\"=dword:0000000b\r\n"
      "[HKEY_CURRENT_USER\\Software\\Other]\r\n\"Foreign\"=\"kept\"\r\n");
  EXPECT_EQ(reg_->read(Rs, "IntervalTimeout"), RegValue::ofDword(11));
  EXPECT_EQ(reg_->read(Rs, "Long"), RegValue::ofBinary({1, 2, 3, 4}));
  EXPECT_EQ(reg_->valueNames(Rs), (Names{"IntervalTimeout", "Long"}));
  EXPECT_FALSE(reg_->keyExists("Software\\Other")) << "another hive";

  ASSERT_TRUE(reg_->write(Rs, "TailInUS", RegValue::ofDword(400)));
  const std::string after = content();
  for (const char* kept :
       {"; notes", "this line means nothing", "\"Bad\"=dword:xyz", "\"Long\"=hex:01,02,\\\n  03,04",
        "\"Foreign\"=\"kept\"", "\"TailInUS\"=dword:00000190"}) {
    EXPECT_NE(after.find(kept), std::string::npos) << kept;
  }
}

TEST_F(RegistryStore, ReadsTheRegistryEditorsUtf16Export) {
  std::string bytes;
  for (char16_t c : std::u16string(u"\uFEFFWindows Registry Editor Version 5.00\r\n\r\n"
                                   u"[HKEY_LOCAL_MACHINE\\Software\\TAVIX\\VELTA\\RS]\r\n"
                                   u"\"Name\"=\"Шлейф \U0001F600\"\r\n")) {
    bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  }
  put(bytes);
  EXPECT_EQ(reg_->read(Rs, "Name"), RegValue::ofString("Шлейф \U0001F600"));
}

TEST_F(RegistryStore, ChangesReplaceTheFileWholeOrNotAtAllAndRefuseLineBreaks) {
  ASSERT_TRUE(reg_->createKey(Rs));
  ASSERT_TRUE(reg_->write(Rs, "TailInUS", RegValue::ofDword(400)));
  testing::expectWholeReplacement(
      path_, [&] { return reg_->write(Rs, "Settings", RegValue::ofString("9600,n,8,1")); });

  const std::string unchanged = content();
  EXPECT_FALSE(reg_->write(Rs, "C", RegValue::ofString("two\nlines")));
  EXPECT_FALSE(reg_->write(Rs, "D\r", RegValue::ofDword(3)));
  EXPECT_FALSE(reg_->createKey("New\nKey"));
  EXPECT_EQ(content(), unchanged);
}

TEST_F(RegistryStore, WritersInSeveralProcessesLoseNothing) {
  ASSERT_TRUE(reg_->createKey(Rs));
  std::vector<pid_t> children;
  for (int w = 0; w < 4; ++w) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::unique_ptr<Registry> own = openRegistryFile(path_);
      bool ok = true;
      for (uint32_t i = 0; i < 15; ++i) {
        ok =
            own->write(Rs, std::to_string(w) + "_" + std::to_string(i), RegValue::ofDword(i)) && ok;
      }
      ::_exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(reg_->valueNames(Rs).size(), 60u);
}

TEST_F(RegistryStore, DamagedFilesNeverCrash) {
  const std::string valid =
      "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\TAVIX\\VELTA\\RS]\n"
      "\"A\"=dword:00000001\n\"B\"=\"x\\\\y\\\"z\"\n\"C\"=hex:01,02,\\\n  03\n@=\"d\"\n"
      "[HKEY_LOCAL_MACHINE\\Software\\TAVIX\\VELTA\\RS\\Sub]\n";
  const std::string alphabet = "[]\\\"=:,@-;\n\r\t hexdword(2)0aF\xff\xfe";
  std::mt19937 random(20240601);
  for (int round = 0; round < 300; ++round) {
    std::string damaged = round % 50 ? valid : "\xff\xfe" + valid;
    for (int edits = 1 + static_cast<int>(random() % 12); edits > 0; --edits) {
      const size_t at = random() % (damaged.size() + 1);
      switch (random() % 3) {
        case 0:
          damaged.insert(at, 1, alphabet[random() % alphabet.size()]);
          break;
        case 1:
          if (at < damaged.size()) damaged.erase(at, 1 + random() % 8);
          break;
        default:
          damaged.resize(at);
      }
    }
    put(damaged);
    reg_->read(Rs, "A");
    reg_->subkeys("Software\\TAVIX\\VELTA");
    if (reg_->keyExists(Rs)) {
      EXPECT_TRUE(reg_->write(Rs, "Fresh", RegValue::ofDword(5))) << damaged;
      EXPECT_EQ(reg_->read(Rs, "Fresh"), RegValue::ofDword(5)) << damaged;
    }
  }
}

}  // namespace
}  // namespace loopmon
