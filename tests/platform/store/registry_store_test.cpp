#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "platform/store/registry.h"
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
  for (const char* kept : {"; notes\r\n", "this line means nothing\r\n", "\"Bad\"=dword:xyz\r\n",
                           "\"Long\"=hex:01,02,\\\r\n  03,04\r\n", "\"Foreign\"=\"kept\"\r\n",
                           "\"TailInUS\"=dword:00000190\r\n"}) {
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

// The registry editor's UTF-16LE export with its byte order mark.
std::string utf16(const std::u16string& text) {
  std::string bytes = "\xff\xfe";
  for (char16_t c : text) bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  return bytes;
}

TEST_F(RegistryStore, AChangeTouchesOnlyTheLinesOfItsValue) {
  const std::string head = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\";
  const std::string rs = head + "Software\\TAVIX\\VELTA\\RS]\r\n";
  struct Case {
    const char* what;
    std::string before;
    std::function<bool(Registry&)> change;
    std::string after;
  };
  const Case cases[] = {
      {"a line ending in CR CR LF stays unread", rs + "\"V\"=dword:1\r\n\"V\"=dword:2\r\r\n",
       [](Registry& r) { return r.write(Rs, "Other", RegValue::ofDword(5)); },
       rs + "\"V\"=dword:1\r\n\"V\"=dword:2\r\r\n\"Other\"=dword:00000005\r\n"},
      {"junk, comments and blank lines keep their bytes; the value joins its own key",
       "; made by hand\n" + rs + "junk \r\n\r\n[HKEY_CURRENT_USER\\X]\n\"V\"=\"\"\n",
       [](Registry& r) { return r.write(Rs, "N", RegValue::ofString("t")); },
       "; made by hand\n" + rs + "junk \r\n\"N\"=\"t\"\n\r\n[HKEY_CURRENT_USER\\X]\n\"V\"=\"\"\n"},
      {"a rewrite replaces the last definition only, continuation lines included",
       rs + "\"V\"=hex:01\r\n;c\r\n\"v\"=hex:02,\\\r\n  03\r\n\"W\"=dword:1",
       [](Registry& r) { return r.write(Rs, "V", RegValue::ofDword(9)); },
       rs + "\"V\"=hex:01\r\n;c\r\n\"V\"=dword:00000009\r\n\"W\"=dword:1"},
      {"a removal takes every definition and never joins the lines around it",
       rs + "\"A\"=dword:1\r\n\"J\"=hex:01,\\\r\n\"A\"=dword:2\r\n  02\r\n",
       [](Registry& r) { return r.remove(Rs, "a"); }, rs + "\"J\"=hex:01,\\\r\n\r\n  02\r\n"},
      {"a last line without its line end gets one before the new line", rs + "\"A\"=dword:1",
       [](Registry& r) { return r.write(Rs, "B", RegValue::ofDword(2)); },
       rs + "\"A\"=dword:1\r\n\"B\"=dword:00000002\r\n"},
      {"a new key follows the last one after a blank line", rs + "\"A\"=dword:1\r\n",
       [](Registry& r) { return r.createKey("Enum"); },
       rs + "\"A\"=dword:1\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum]\r\n\r\n"},
      {"a UTF-16 export stays UTF-16", utf16(u"[HKEY_LOCAL_MACHINE\\Enum]\r\n;\u0428\r\n"),
       [](Registry& r) { return r.write("Enum", "N", RegValue::ofString("Ш")); },
       utf16(u"[HKEY_LOCAL_MACHINE\\Enum]\r\n;\u0428\r\n\"N\"=\"\u0428\"\r\n")},
      {"text a UTF-16 file cannot hold is refused", utf16(u"[HKEY_LOCAL_MACHINE\\Enum]\n"),
       [](Registry& r) { return !r.write("Enum", "N", RegValue::ofString("\xff")); },
       utf16(u"[HKEY_LOCAL_MACHINE\\Enum]\n")},
  };
  for (const Case& c : cases) {
    put(c.before);
    EXPECT_TRUE(c.change(*reg_)) << c.what;
    EXPECT_EQ(content(), c.after) << c.what;
  }
  put(cases[0].before);
  ASSERT_TRUE(reg_->write(Rs, "Other", RegValue::ofDword(5)));
  ASSERT_TRUE(reg_->write(Rs, "More", RegValue::ofDword(6)));
  EXPECT_EQ(reg_->read(Rs, "V"), RegValue::ofDword(1)) << "the CR CR LF line came to life";
}

TEST_F(RegistryStore, AnOperationSeesOneReadingOfTheStore) {
  put("[HKEY_LOCAL_MACHINE\\K]\n\"A\"=dword:1\n");
  {
    const Registry::Batch batch(*reg_);
    EXPECT_EQ(reg_->read("K", "A"), RegValue::ofDword(1));
    put("[HKEY_LOCAL_MACHINE\\K]\n\"A\"=dword:2\n");
    EXPECT_EQ(reg_->read("K", "A"), RegValue::ofDword(1));
    // A change goes to the file as it is now, and is seen at once.
    ASSERT_TRUE(reg_->write("K", "B", RegValue::ofDword(3)));
    EXPECT_EQ(reg_->read("K", "A"), RegValue::ofDword(2));
    EXPECT_EQ(reg_->read("K", "B"), RegValue::ofDword(3));
    put("[HKEY_LOCAL_MACHINE\\K]\n\"A\"=dword:4\n");
  }
  EXPECT_EQ(reg_->read("K", "A"), RegValue::ofDword(4));
}

// 20,000 keys make about a megabyte. Reading and changing it must cost time in
// proportion to its size; the figures are in the registry store benchmark.
TEST_F(RegistryStore, AHugeStoreIsReadAndChangedInLinearTime) {
  std::string text = "Windows Registry Editor Version 5.00\n\n";
  for (int i = 0; i < 20000; ++i) {
    text += "[HKEY_LOCAL_MACHINE\\Enum\\BIOS\\*PNP0501\\" + std::to_string(i) +
            "]\n\"PortName\"=\"COM" + std::to_string(i) + "\"\n\"Settings\"=hex:00,01,02,03\n\n";
  }
  put(text + "[HKEY_LOCAL_MACHINE\\Software\\TAVIX\\VELTA\\RS]\n");
  const auto start = std::chrono::steady_clock::now();
  {
    const Registry::Batch batch(*reg_);
    EXPECT_EQ(reg_->subkeys("Enum\\BIOS\\*PNP0501").size(), 20000u);
    for (int i = 0; i < 20000; i += 7) {
      EXPECT_EQ(reg_->read("Enum\\BIOS\\*PNP0501\\" + std::to_string(i), "PortName"),
                RegValue::ofString("COM" + std::to_string(i)));
    }
    ASSERT_TRUE(reg_->write(Rs, "TailInUS", RegValue::ofDword(400)));
  }
  for (int i = 0; i < 20; ++i) EXPECT_TRUE(reg_->keyExists(Rs));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

}  // namespace
}  // namespace loopmon
