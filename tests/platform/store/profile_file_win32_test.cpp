// Profile files through the system's own profile functions under Wine.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/store/profile_file.h"
#include "platform/store/program_folder.h"
#include "platform/system/windows_api_win32.h"

using namespace loopmon;

namespace {

// The system's profile functions rewrite a file key by key; ours must still
// replace it whole, and a bare name must not land in the Windows folder.
TEST(ProfileFiles, WrittenWholeInTheSystemsFormatAndWhereTheyAreNamed) {
  const std::string folder =
      programFolder() + "profile-test-" + std::to_string(GetCurrentProcessId()) + "\\";
  CreateDirectoryW(win32::widen(folder).c_str(), nullptr);
  const std::wstring path = win32::widen(folder + "ohmgauge.kft");
  const auto contents = [&] {
    std::stringstream text;
    text << std::ifstream(folder + "ohmgauge.kft", std::ios::binary).rdbuf();
    return text.str();
  };
  const auto filesInFolder = [&] {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(win32::widen(folder + "*").c_str(), &found);
    int files = 0;
    do files += !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    while (FindNextFileW(search, &found));
    FindClose(search);
    return files;
  };

  wchar_t previous[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, previous);
  SetCurrentDirectoryW(win32::widen(folder).c_str());
  ProfileFile relative("ohmgauge.kft");
  const bool written = relative.writeStrings("1-160", {{"ACP1", "200"}, {"note", "kept"}});
  SetCurrentDirectoryW(previous);
  ASSERT_TRUE(written);
  const std::string before = contents();
  EXPECT_EQ(before, "[1-160]\r\nACP1=200\r\nnote=kept\r\n") << "in the working folder";

  ProfileFile byFullPath(folder + "ohmgauge.kft");
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(byFullPath.writeStrings("1-160", {{"ACP1", "100"}, {"a", "408"}})) << "read-only";
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(contents(), before);
  EXPECT_EQ(filesInFolder(), 1) << "no copy left behind";

  ASSERT_TRUE(byFullPath.writeStrings("1-160", {{"ACP1", "100"}, {"a", "408"}}));
  EXPECT_EQ(byFullPath.keys("1-160"), (std::vector<std::string>{"ACP1", "note", "a"}));
  EXPECT_EQ(filesInFolder(), 1);
  DeleteFileW(path.c_str());
  RemoveDirectoryW(win32::widen(folder).c_str());
}

}  // namespace
