// The Win32 platform layer against the system's own services under Wine: the
// registry, the ports it lists, profile files, the clock and text output.

#include <gtest/gtest.h>
#include <io.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <fstream>
#include <sstream>

#include "platform/serial/port_names.h"
#include "platform/store/profile_file.h"
#include "platform/store/program_folder.h"
#include "platform/store/registry.h"
#include "platform/system/clock.h"
#include "platform/system/console.h"
#include "platform/system/windows_api_win32.h"

using namespace loopmon;

namespace {

TEST(Ports, ListedByNumberAsTheSystemKeepsThem) {
  auto registry = openSystemRegistry();
  const std::string serialComm = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
  ASSERT_TRUE(registry->createKey(serialComm));
  ASSERT_TRUE(registry->write(serialComm, "\\Device\\LoopmonTest12", RegValue::ofString("COM12")));
  ASSERT_TRUE(registry->write(serialComm, "\\Device\\LoopmonTest3", RegValue::ofString("COM3")));
  std::vector<std::string> names;
  for (const PortEntry& port : listPorts(*registry)) names.push_back(port.devicePath);
  registry->remove(serialComm, "\\Device\\LoopmonTest12");
  registry->remove(serialComm, "\\Device\\LoopmonTest3");
  const auto com3 = std::find(names.begin(), names.end(), "COM3");
  ASSERT_NE(com3, names.end());
  EXPECT_LT(com3, std::find(names.begin(), names.end(), "COM12")) << "by number, not by text";
}

TEST(Ports, ARemoteLineTakesACommunicationsPortName) {
  auto registry = openSystemRegistry();
  const std::string line = "rfc2217://plantroom:2001";
  EXPECT_FALSE(mapPort(*registry, "COM4", "\\Device\\Serial0")) << "the system's to name";
  ASSERT_TRUE(mapPort(*registry, "com4", line));
  const std::string resolved = resolvePortName(*registry, "COM4");
  const std::vector<PortEntry> ports = listPorts(*registry);
  // Through the store, so that it is gone from the view the names are kept in.
  registry->remove("Software\\TAVIX\\VELTA\\RemoteLines", "COM4");
  EXPECT_EQ(resolved, line);
  EXPECT_TRUE(std::any_of(ports.begin(), ports.end(), [&](const PortEntry& p) {
    return p.comName == "COM4" && p.devicePath == line && p.mapped;
  }));
  EXPECT_EQ(resolvePortName(*registry, "COM4"), "COM4") << "unmapped again";
}

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

TEST(SystemClock, PausesAreNeverShortAndTheDateIsToday) {
  auto clock = systemClock();
  clock->beginTimerPeriod();
  for (uint32_t micros : {300u, 1500u}) {
    const auto start = std::chrono::steady_clock::now();
    clock->sleepMicros(micros);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(micros));
  }
  clock->endTimerPeriod();
  // Spreadsheet days: 25569 is 1970-01-01. Local time lies within a day of UTC.
  EXPECT_NEAR(clock->nowDays(), static_cast<double>(std::time(nullptr)) / 86400.0 + 25569.0, 1.0);
}

TEST(Console, TextToAPipeOrAFileStaysUtf8) {
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
  std::FILE* pipe = _fdopen(_open_osfhandle(reinterpret_cast<intptr_t>(writeEnd), 0), "wb");
  ASSERT_NE(pipe, nullptr);
  EXPECT_FALSE(isConsole(pipe));
  EXPECT_FALSE(consoleTakesEscapes(pipe));
  writeText(pipe, "Обрыв\tКЗ\n");
  std::fclose(pipe);
  char bytes[64] = {};
  DWORD count = 0;
  ASSERT_TRUE(ReadFile(readEnd, bytes, sizeof bytes, &count, nullptr));
  CloseHandle(readEnd);
  EXPECT_EQ(std::string(bytes, count), "Обрыв\tКЗ\n");
}

}  // namespace
