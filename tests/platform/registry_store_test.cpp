#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/registry.h"
#include "scoped_temp_dir.h"

namespace loopmon {
namespace {

using testing::ScopedEnv;
using testing::ScopedTempDir;

constexpr const char* kRs = "Software\\TAVIX\\VELTA\\RS";

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void put(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

class RegistryStore : public ::testing::Test {
 protected:
  ScopedTempDir dir_;
  std::string path_ = dir_.file("system.reg");
  std::unique_ptr<Registry> reg_ = openRegistryFile(path_);
};

TEST_F(RegistryStore, TypedValuesSurviveTheFileAndReachAnotherInstance) {
  ASSERT_TRUE(reg_->createKey(kRs));
  const RegValue dword = RegValue::ofDword(0x1e);
  const RegValue text = RegValue::ofString(R"(C:\dir "quoted" \\server)");
  const RegValue bytes = RegValue::ofBinary({0x00, 0x01, 0xfe, 0xff});
  const RegValue empty = RegValue::ofBinary({});
  ASSERT_TRUE(reg_->write(kRs, "StartTimeout", dword));
  ASSERT_TRUE(reg_->write(kRs, "Path", text));
  ASSERT_TRUE(reg_->write(kRs, "Settings", bytes));
  ASSERT_TRUE(reg_->write(kRs, "Nothing", empty));
  ASSERT_TRUE(reg_->write(kRs, "", RegValue::ofString("default")));

  std::unique_ptr<Registry> other = openRegistryFile(path_);
  EXPECT_EQ(other->read(kRs, "StartTimeout"), dword);
  EXPECT_EQ(other->read(kRs, "Path"), text);
  EXPECT_EQ(other->read(kRs, "Settings"), bytes);
  EXPECT_EQ(other->read(kRs, "Nothing"), empty);
  EXPECT_EQ(other->read(kRs, ""), RegValue::ofString("default"));
  EXPECT_EQ(other->valueNames(kRs),
            (std::vector<std::string>{"StartTimeout", "Path", "Settings", "Nothing", ""}));

  EXPECT_EQ(slurp(path_),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\TAVIX\\VELTA\\RS]\n"
            "\"StartTimeout\"=dword:0000001e\n"
            R"("Path"="C:\\dir \"quoted\" \\\\server")"
            "\n"
            "\"Settings\"=hex:00,01,fe,ff\n"
            "\"Nothing\"=hex:\n"
            "@=\"default\"\n\n");
}

TEST_F(RegistryStore, NamesCompareWithoutCaseAndKeepTheirPlace) {
  ASSERT_TRUE(reg_->createKey(kRs));
  ASSERT_TRUE(reg_->write(kRs, "TailInUS", RegValue::ofDword(400)));
  ASSERT_TRUE(reg_->write(kRs, "SmartPI", RegValue::ofString("")));
  ASSERT_TRUE(reg_->write("\\software\\tavix\\velta\\rs\\", "TAILINUS", RegValue::ofDword(7)));

  EXPECT_TRUE(reg_->keyExists("SOFTWARE\\tavix"));
  EXPECT_EQ(reg_->read(kRs, "tailinus"), RegValue::ofDword(7));
  EXPECT_EQ(reg_->valueNames(kRs), (std::vector<std::string>{"TAILINUS", "SmartPI"}));
  EXPECT_EQ(reg_->read(kRs, "SmartPI"), RegValue::ofString(""));
}

TEST_F(RegistryStore, KeysSubkeysAndRemoval) {
  EXPECT_FALSE(reg_->keyExists(kRs));
  EXPECT_FALSE(reg_->write(kRs, "X", RegValue::ofDword(1)));
  EXPECT_FALSE(std::filesystem::exists(path_));

  ASSERT_TRUE(reg_->createKey("Enum\\BIOS\\*PNP0501\\0D"));
  ASSERT_TRUE(reg_->createKey("Enum\\BIOS\\*PNP0501\\0A"));
  ASSERT_TRUE(reg_->createKey("enum\\bios\\*pnp0501\\0d\\Deeper"));
  EXPECT_TRUE(reg_->keyExists("Enum\\BIOS"));
  EXPECT_TRUE(reg_->keyExists(""));
  EXPECT_EQ(reg_->subkeys("Enum\\BIOS\\*PNP0501"), (std::vector<std::string>{"0D", "0A"}));
  EXPECT_EQ(reg_->subkeys("Enum"), (std::vector<std::string>{"BIOS"}));
  EXPECT_TRUE(reg_->subkeys("Enum\\BIOS\\*PNP0501\\0A").empty());
  EXPECT_TRUE(reg_->subkeys("Missing").empty());

  // A key that exists only as a parent still takes values.
  ASSERT_TRUE(reg_->write("Enum\\BIOS", "Count", RegValue::ofDword(2)));
  EXPECT_EQ(reg_->read("Enum\\BIOS", "count"), RegValue::ofDword(2));

  EXPECT_TRUE(reg_->remove("Enum\\BIOS", "COUNT"));
  EXPECT_FALSE(reg_->read("Enum\\BIOS", "Count"));
  EXPECT_FALSE(reg_->remove("Enum\\BIOS", "Count"));
  EXPECT_FALSE(reg_->remove("Missing", "Count"));
}

TEST_F(RegistryStore, HandEditedFileIsReadAndItsOtherLinesSurviveAChange) {
  put(path_,
      "Windows Registry Editor Version 5.00\r\n"
      "; notes of the installer\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\TAVIX\\VELTA\\RS]\r\n"
      "\"IntervalTimeout\"=dword:0000000A\r\n"
      "this line means nothing\r\n"
      "\"Bad\"=dword:xyz\r\n"
      "\"Long\"=hex:01,02,\\\r\n"
      "  03,04\r\n"
      "\"Expand\"=hex(2):41,00,00,00\r\n"
      "\"IntervalTimeout\"=dword:0000000b\r\n"
      "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
      "\"Foreign\"=\"kept\"\r\n");

  EXPECT_EQ(reg_->read(kRs, "IntervalTimeout"), RegValue::ofDword(11));
  EXPECT_EQ(reg_->read(kRs, "Long"), RegValue::ofBinary({1, 2, 3, 4}));
  EXPECT_EQ(reg_->read(kRs, "Expand"), RegValue::ofBinary({0x41, 0, 0, 0}));
  EXPECT_FALSE(reg_->read(kRs, "Bad"));
  EXPECT_EQ(reg_->valueNames(kRs), (std::vector<std::string>{"IntervalTimeout", "Long", "Expand"}));
  EXPECT_FALSE(reg_->keyExists("Software\\Other"));

  ASSERT_TRUE(reg_->write(kRs, "TailInUS", RegValue::ofDword(400)));
  std::string after = slurp(path_);
  for (const char* kept : {"; notes of the installer", "this line means nothing",
                           "\"Bad\"=dword:xyz", "\"Long\"=hex:01,02,\\\n  03,04",
                           "\"Expand\"=hex(2):41,00,00,00", "[HKEY_CURRENT_USER\\Software\\Other]",
                           "\"Foreign\"=\"kept\"", "\"TailInUS\"=dword:00000190"}) {
    EXPECT_NE(after.find(kept), std::string::npos) << kept;
  }
  EXPECT_EQ(reg_->read(kRs, "Long"), RegValue::ofBinary({1, 2, 3, 4}));
}

TEST_F(RegistryStore, ReadsTheRegistryEditorsUtf16Export) {
  std::u16string text =
      u"\uFEFFWindows Registry Editor Version 5.00\r\n\r\n"
      u"[HKEY_LOCAL_MACHINE\\Software\\TAVIX\\VELTA\\RS]\r\n"
      u"\"Name\"=\"Шлейф \U0001F600\"\r\n";
  std::string bytes;
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  put(path_, bytes);
  EXPECT_EQ(reg_->read(kRs, "Name"), RegValue::ofString("Шлейф \U0001F600"));
}

TEST_F(RegistryStore, ChangesReplaceTheFileWholeAndRefuseLineBreaks) {
  ASSERT_TRUE(reg_->createKey(kRs));
  ASSERT_TRUE(reg_->write(kRs, "A", RegValue::ofDword(1)));
  struct stat before {};
  ASSERT_EQ(::stat(path_.c_str(), &before), 0);
  ASSERT_TRUE(reg_->write(kRs, "B", RegValue::ofDword(2)));
  struct stat after {};
  ASSERT_EQ(::stat(path_.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino) << "written in place instead of replaced";

  std::string content = slurp(path_);
  EXPECT_FALSE(reg_->write(kRs, "C", RegValue::ofString("two\nlines")));
  EXPECT_FALSE(reg_->write(kRs, "D\r", RegValue::ofDword(3)));
  EXPECT_FALSE(reg_->createKey("New\nKey"));
  EXPECT_EQ(slurp(path_), content);

  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    files.push_back(entry.path().filename().string());
  }
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"system.reg", "system.reg.lock"}));
}

TEST_F(RegistryStore, WritersInSeveralProcessesLoseNothing) {
  ASSERT_TRUE(reg_->createKey(kRs));
  constexpr int kWriters = 4;
  constexpr int kValuesEach = 15;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::unique_ptr<Registry> own = openRegistryFile(path_);
      bool ok = true;
      for (int i = 0; i < kValuesEach; ++i) {
        ok = own->write(kRs, "W" + std::to_string(w) + "_" + std::to_string(i),
                        RegValue::ofDword(static_cast<uint32_t>(i))) &&
             ok;
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
  EXPECT_EQ(reg_->valueNames(kRs).size(), static_cast<size_t>(kWriters * kValuesEach));
}

TEST_F(RegistryStore, DamagedFilesNeverCrash) {
  const std::string valid =
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_LOCAL_MACHINE\\Software\\TAVIX\\VELTA\\RS]\n"
      "\"A\"=dword:00000001\n\"B\"=\"x\\\\y\\\"z\"\n\"C\"=hex:01,02,\\\n  03\n@=\"d\"\n"
      "[HKEY_LOCAL_MACHINE\\Software\\TAVIX\\VELTA\\RS\\Sub]\n";
  const std::string alphabet = "[]\\\"=:,@-;\n\r\t hexdword(2)0aF\xff\xfe";
  std::mt19937 random(20240601);
  for (int round = 0; round < 300; ++round) {
    std::string damaged = valid;
    int edits = 1 + static_cast<int>(random() % 12);
    for (int e = 0; e < edits; ++e) {
      size_t at = random() % (damaged.size() + 1);
      switch (random() % 3) {
        case 0:
          damaged.insert(at, 1, alphabet[random() % alphabet.size()]);
          break;
        case 1:
          if (at < damaged.size()) damaged.erase(at, 1 + random() % 8);
          break;
        default:
          damaged = damaged.substr(0, at);
      }
    }
    if (round % 50 == 0) damaged = std::string("\xff\xfe") + damaged;
    put(path_, damaged);
    reg_->read(kRs, "A");
    reg_->valueNames(kRs);
    reg_->subkeys("Software\\TAVIX\\VELTA");
    reg_->keyExists(kRs);
    if (reg_->keyExists(kRs)) {
      EXPECT_TRUE(reg_->write(kRs, "Fresh", RegValue::ofDword(5))) << damaged;
      EXPECT_EQ(reg_->read(kRs, "Fresh"), RegValue::ofDword(5)) << damaged;
    }
  }
}

TEST(SystemRegistry, LivesInTheUsersConfigFolder) {
  ScopedTempDir dir;
  {
    ScopedEnv config("XDG_CONFIG_HOME", dir.path() + "/config");
    ASSERT_TRUE(openSystemRegistry()->createKey(kRs));
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/config/loopmon/system.reg"));
  }
  ScopedEnv noConfig("XDG_CONFIG_HOME", std::nullopt);
  ScopedEnv home("HOME", dir.path() + "/home");
  ASSERT_TRUE(openSystemRegistry()->createKey(kRs));
  EXPECT_TRUE(std::filesystem::exists(dir.path() + "/home/.config/loopmon/system.reg"));
}

}  // namespace
}  // namespace loopmon
