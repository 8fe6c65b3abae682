// The Win32 platform layer against the system's own services: the registry,
// named mutexes seen from another process, profile files, clock and version.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <fstream>
#include <sstream>

#include "child_process.h"
#include "platform/bus_driver.h"
#include "platform/clock.h"
#include "platform/named_marker.h"
#include "platform/os_version.h"
#include "platform/port_names.h"
#include "platform/profile_file.h"
#include "platform/program_folder.h"
#include "platform/registry.h"
#include "transport/bus_state.h"

using namespace loopmon;
using namespace loopmon::test;

namespace {

const std::string TestKey = "\\Software\\loopmon-win32-test";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\loopmon-win32-test"); }
  void TearDown() override { SetUp(); }
  std::unique_ptr<Registry> registry = openSystemRegistry();
};

TEST_F(RegistryTest, TypedValuesLandInTheSystemRegistry) {
  ASSERT_FALSE(registry->keyExists(TestKey));
  EXPECT_FALSE(registry->write(TestKey, "TailInUS", RegValue::ofDword(400)))
      << "writing never creates the key";
  ASSERT_TRUE(registry->createKey(TestKey + "\\RS"));
  EXPECT_TRUE(registry->keyExists("software\\LOOPMON-WIN32-TEST\\rs")) << "names are case-blind";

  const std::string rs = TestKey + "\\RS";
  ASSERT_TRUE(registry->write(rs, "TailInUS", RegValue::ofDword(400)));
  ASSERT_TRUE(registry->write(rs, "PortName", RegValue::ofString("COM2")));
  ASSERT_TRUE(registry->write(rs, "Caption", RegValue::ofString("Шлейфы")));
  ASSERT_TRUE(registry->write(rs, "Settings", RegValue::ofBinary({0x12, 0, 0xff, 7})));

  EXPECT_EQ(registry->read(rs, "tailinus"), RegValue::ofDword(400));
  EXPECT_EQ(registry->read(rs, "PortName"), RegValue::ofString("COM2"));
  EXPECT_EQ(registry->read(rs, "Caption"), RegValue::ofString("Шлейфы"));
  EXPECT_EQ(registry->read(rs, "Settings"), RegValue::ofBinary({0x12, 0, 0xff, 7}));
  EXPECT_EQ(registry->read(rs, "Missing"), std::nullopt);

  // The system's own tool sees what we wrote, with the system's types.
  const std::string query = captureOutput("reg query HKLM\\Software\\loopmon-win32-test\\RS");
  EXPECT_NE(query.find("REG_DWORD"), std::string::npos) << query;
  EXPECT_NE(query.find("0x190"), std::string::npos) << query;
  EXPECT_NE(query.find("REG_SZ"), std::string::npos) << query;
  EXPECT_NE(query.find("COM2"), std::string::npos) << query;
  EXPECT_NE(query.find("REG_BINARY"), std::string::npos) << query;
  EXPECT_NE(query.find("1200FF07"), std::string::npos) << query;

  ASSERT_TRUE(registry->remove(rs, "Settings"));
  EXPECT_EQ(registry->read(rs, "Settings"), std::nullopt);
  EXPECT_FALSE(registry->remove(rs, "Settings")) << "nothing left to delete";
  EXPECT_EQ(registry->valueNames(rs).size(), 3u);
}

TEST_F(RegistryTest, ValuesOfOtherTypesReadAsTheirBytes) {
  ASSERT_TRUE(registry->createKey(TestKey));
  HKEY key = nullptr;
  ASSERT_EQ(
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\loopmon-win32-test", 0, KEY_SET_VALUE, &key),
      ERROR_SUCCESS);
  RegSetValueExW(key, L"SmartPI", 0, REG_NONE, nullptr, 0);
  const wchar_t multi[] = L"a\0b\0";
  RegSetValueExW(key, L"List", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi), sizeof multi);
  RegCloseKey(key);

  auto smartPi = registry->read(TestKey, "SmartPI");
  ASSERT_TRUE(smartPi.has_value()) << "a value without data still exists";
  EXPECT_EQ(smartPi->type, RegType::Binary);
  EXPECT_TRUE(smartPi->bytes.empty());
  auto list = registry->read(TestKey, "List");
  ASSERT_TRUE(list.has_value());
  EXPECT_EQ(list->bytes.size(), sizeof multi);
}

TEST_F(RegistryTest, SubkeysAreListedByName) {
  for (const char* name : {"0000", "0001", "ACPI0003"}) {
    ASSERT_TRUE(registry->createKey(TestKey + "\\Enum\\*PNP0501\\" + name));
  }
  auto names = registry->subkeys(TestKey + "\\Enum\\*PNP0501");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"0000", "0001", "ACPI0003"}));
  EXPECT_TRUE(registry->subkeys(TestKey + "\\Missing").empty());
}

TEST_F(RegistryTest, PortsAreTheOnesTheSystemLists) {
  const std::string serialComm = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
  ASSERT_TRUE(registry->createKey(serialComm));
  ASSERT_TRUE(registry->write(serialComm, "\\Device\\LoopmonTest12", RegValue::ofString("COM12")));
  ASSERT_TRUE(registry->write(serialComm, "\\Device\\LoopmonTest3", RegValue::ofString("COM3")));
  const std::vector<PortEntry> ports = listPorts(*registry);
  registry->remove(serialComm, "\\Device\\LoopmonTest12");
  registry->remove(serialComm, "\\Device\\LoopmonTest3");

  std::vector<std::string> names;
  for (const PortEntry& port : ports) {
    EXPECT_EQ(port.devicePath, port.comName) << "a port opens under its own name";
    names.push_back(port.comName);
  }
  const auto com3 = std::find(names.begin(), names.end(), "COM3");
  const auto com12 = std::find(names.begin(), names.end(), "COM12");
  ASSERT_NE(com3, names.end());
  ASSERT_NE(com12, names.end());
  EXPECT_LT(com3, com12) << "by number, not by text";
  EXPECT_EQ(resolvePortName(*registry, "COM3"), "COM3");
}

// The line settings a fresh installation lacks are written back into the
// machine's registry, where an engineer finds them with the system's tools.
class LineSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\TAVIX"); }
  void TearDown() override { SetUp(); }

  static Platform registryOnly() {
    Platform platform;
    platform.registry = openSystemRegistry();
    platform.isNt = queryOsVersion().ntPlatform;
    return platform;
  }
};

TEST_F(LineSettingsTest, DefaultsAreWrittenBackToTheMachine) {
  BusState bus(registryOnly());
  LoadLineSettings(bus);
  EXPECT_EQ(bus.Settings.StartTimeout, 4u) << "an NT-family system";
  EXPECT_EQ(bus.Settings.TailInUS, 400u);
  EXPECT_EQ(bus.Settings.CmdTimeoutConstant, 600u);

  const std::string query = captureOutput("reg query HKLM\\Software\\TAVIX\\VELTA\\RS");
  EXPECT_NE(query.find("StartTimeout    REG_DWORD    0x4"), std::string::npos) << query;
  EXPECT_NE(query.find("TailInUS    REG_DWORD    0x190"), std::string::npos) << query;
  EXPECT_EQ(openSystemRegistry()->valueNames(LineSettingsKey).size(), 2u) << query;
}

TEST_F(LineSettingsTest, SettingsTypedInWithTheSystemsToolAreRead) {
  const std::string key = "HKLM\\Software\\TAVIX\\VELTA\\RS";
  for (const char* add : {"/v CmdTimeoutConstant /t REG_DWORD /d 250",
                          "/v SmartPI /t REG_SZ /d \"\"", "/v USARTMode /t REG_NONE"}) {
    captureOutput("reg add " + key + " " + std::string(add) + " /f");
  }
  BusState bus(registryOnly());
  LoadLineSettings(bus);
  EXPECT_EQ(bus.Settings.CmdTimeoutConstant, 250u);
  EXPECT_TRUE(bus.Settings.SmartPI) << "present as an empty string";
  EXPECT_TRUE(bus.Settings.USARTMode) << "present without data";

  captureOutput("reg add " + key + " /v TimeoutConstant /t REG_SZ /d 30 /f");
  BusState again(registryOnly());
  EXPECT_THROW(LoadLineSettings(again), LineSettingsError) << "a number stored as text";
}

// Markers are process-wide names: a second process holding one is seen here,
// and the marker goes with the last holder, also when that holder is killed.
class MarkerTest : public ::testing::Test {
 protected:
  std::string name(const char* base) const {
    return std::string(base) + "-" + std::to_string(GetCurrentProcessId());
  }
  std::string holderCommand(const std::string& marker, const std::string& ready,
                            const std::string& release) const {
    return "\"" + programFolder() + "marker_holder.exe\" " + marker + " " + ready + " " + release;
  }
  std::unique_ptr<MarkerService> markers = makeMarkerService();
};

TEST_F(MarkerTest, CreateReportsAnExistingMarkerInTheSameProcess) {
  const std::string marker = name("VELTA");
  bool existed = true;
  auto first = markers->create(marker, existed);
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(existed);
  auto second = markers->create(marker, existed);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(existed);
  first.reset();
  second.reset();
  EXPECT_EQ(markers->openExisting(marker), nullptr) << "gone with its last holder";
}

TEST_F(MarkerTest, SimulatorMarkerOfAnotherProcessIsSeen) {
  const std::string marker = name("SIMUL");
  NamedEvent ready(name("ready"));
  NamedEvent release(name("release"));
  EXPECT_EQ(markers->openExisting(marker), nullptr);

  ChildProcess holder(holderCommand(marker, name("ready"), name("release")));
  ASSERT_TRUE(holder.started());
  ASSERT_TRUE(ready.wait(30000));
  EXPECT_NE(markers->openExisting(marker), nullptr);
  bool existed = false;
  auto ours = markers->create(marker, existed);
  EXPECT_TRUE(existed) << "the other process created it first";
  ours.reset();

  release.set();
  EXPECT_EQ(holder.wait(30000), 0) << "the holder created the marker afresh";
  EXPECT_EQ(markers->openExisting(marker), nullptr);
}

TEST_F(MarkerTest, MarkerOfAKilledProcessVanishes) {
  const std::string marker = name("MutexVELTA485");
  NamedEvent ready(name("ready-killed"));
  ChildProcess holder(holderCommand(marker, name("ready-killed"), name("never")));
  ASSERT_TRUE(holder.started());
  ASSERT_TRUE(ready.wait(30000));
  EXPECT_NE(markers->openExisting(marker), nullptr);
  holder.kill();
  EXPECT_EQ(markers->openExisting(marker), nullptr);
  bool existed = true;
  auto fresh = markers->create(marker, existed);
  EXPECT_FALSE(existed);
}

class ProfileFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = programFolder() + "profile-test-" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryW(win32::widen(folder).c_str(), nullptr);
  }
  void TearDown() override {
    for (const char* file : {"ohmgauge.kft", "pcom.ini"}) {
      DeleteFileW(win32::widen(folder + file).c_str());
    }
    RemoveDirectoryW(win32::widen(folder).c_str());
  }
  std::string slurp(const std::string& name) const {
    std::ifstream in(folder + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  size_t filesInFolder() const {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(win32::widen(folder + "*").c_str(), &found);
    size_t files = 0;
    if (search == INVALID_HANDLE_VALUE) return files;
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++files;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return files;
  }
  std::string folder;
};

TEST_F(ProfileFileTest, CoefficientsSectionsAreWrittenAndReadBack) {
  ProfileFile kft(folder + "ohmgauge.kft");
  EXPECT_EQ(kft.readString("1-160", "a", ""), "") << "a missing file reads as empty";
  EXPECT_TRUE(kft.keys("1-160").empty());

  for (auto [key, value] : {std::pair{"ACP1", "200"},
                            {"ACP2", "100"},
                            {"R1", "1,04"},
                            {"R2", "3,08"},
                            {"a", "408"},
                            {"b", "-1"}}) {
    ASSERT_TRUE(kft.writeString("1-160", key, value));
  }
  ASSERT_TRUE(kft.writeString("11-105", "a", "265,254901960784"));
  ASSERT_TRUE(kft.writeString("1-160", "a", "415,577142857143")) << "rewritten in place";

  EXPECT_EQ(kft.readString("1-160", "A", ""), "415,577142857143");
  EXPECT_EQ(kft.readString("1-160", "R1", ""), "1,04");
  EXPECT_EQ(kft.keys("1-160"), (std::vector<std::string>{"ACP1", "ACP2", "R1", "R2", "a", "b"}));
  EXPECT_EQ(kft.keys("11-105"), (std::vector<std::string>{"a"}));
  const std::string text = slurp("ohmgauge.kft");
  EXPECT_LT(text.find("[1-160]"), text.find("[11-105]")) << text;
  EXPECT_EQ(text.find("408"), std::string::npos) << text;
}

TEST_F(ProfileFileTest, IntegersReadAlikeOnBothSystems) {
  ProfileFile ini(folder + "pcom.ini");
  EXPECT_EQ(ini.readInt("Port", "Num", 0), 0) << "no file";
  for (auto [value, number] :
       {std::pair{"3", 3}, {"0x1F", 31}, {"$10", 16}, {"-5", -5}, {"2x", 2}, {"abc", 0}, {"", 0}}) {
    ASSERT_TRUE(ini.writeString("Port", "Num", value));
    EXPECT_EQ(ini.readInt("port", "num", 7), number) << "\"" << value << "\"";
  }
  EXPECT_EQ(ini.readInt("Port", "Other", 7), 7);
  EXPECT_EQ(ini.readInt("Other", "Num", 7), 7);
}

TEST_F(ProfileFileTest, SeveralKeysGoInWholeOrNotAtAll) {
  ProfileFile kft(folder + "ohmgauge.kft");
  ASSERT_TRUE(kft.writeStrings("1-160", {{"ACP1", "200"}, {"note", "kept"}}));
  const std::string before = slurp("ohmgauge.kft");
  EXPECT_EQ(before, "[1-160]\r\nACP1=200\r\nnote=kept\r\n") << "the system's own format";

  EXPECT_FALSE(kft.writeStrings("1-160", {{"ACP1", "100"}, {"R1", "two\nlines"}}));
  EXPECT_FALSE(kft.writeString("1-160]\r\n[x", "a", "1"));
  EXPECT_FALSE(kft.writeString("1-160", "a=b", "1"));
  EXPECT_FALSE(kft.writeString("1-160", " ", "1"));
  EXPECT_EQ(slurp("ohmgauge.kft"), before);

  const std::wstring path = win32::widen(folder + "ohmgauge.kft");
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(kft.writeStrings("1-160", {{"ACP1", "100"}, {"a", "408"}})) << "read-only file";
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(slurp("ohmgauge.kft"), before);
  EXPECT_EQ(filesInFolder(), 1u) << "no copy left behind";

  ASSERT_TRUE(kft.writeStrings("1-160", {{"ACP1", "100"}, {"a", "408"}}));
  EXPECT_EQ(kft.keys("1-160"), (std::vector<std::string>{"ACP1", "note", "a"}));
  EXPECT_EQ(kft.readString("1-160", "ACP1", ""), "100");
  EXPECT_EQ(filesInFolder(), 1u);
}

TEST_F(ProfileFileTest, RelativePathMeansTheWorkingFolder) {
  wchar_t previous[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(win32::widen(folder).c_str()));
  ProfileFile ini("pcom.ini");
  const bool written = ini.writeString("Port", "Num", "1");
  SetCurrentDirectoryW(previous);
  ASSERT_TRUE(written);
  EXPECT_NE(slurp("pcom.ini").find("Num=1"), std::string::npos)
      << "not the Windows folder, where the profile functions put bare names";
}

TEST(Win32System, ClockVersionAndFolders) {
  auto clock = systemClock();
  EXPECT_GT(clock->counterFrequency(), 0);

  // Spreadsheet days: 25569 is 1970-01-01. Local time lies within a day of UTC.
  const double unixDays = static_cast<double>(std::time(nullptr)) / 86400.0 + 25569.0;
  EXPECT_NEAR(clock->nowDays(), unixDays, 1.0);

  clock->beginTimerPeriod();
  for (uint32_t micros : {300u, 1500u}) {
    const auto start = std::chrono::steady_clock::now();
    clock->sleepMicros(micros);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(micros))
        << "a pause is never shorter than asked";
  }
  clock->endTimerPeriod();

  const OsVersion version = queryOsVersion();
  EXPECT_TRUE(version.ntPlatform);
  EXPECT_GE(version.major, 5u);

  const std::string folder = programFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '\\');
  EXPECT_NE(GetFileAttributesW(win32::widen(folder + "marker_holder.exe").c_str()),
            INVALID_FILE_ATTRIBUTES);
  const std::string runtime = runtimeFolder();
  EXPECT_EQ(runtime.back(), '\\');
  EXPECT_NE(GetFileAttributesW(win32::widen(runtime).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(Win32System, NoBusDriverMeansTheSerialRoute) {
  auto driver = makeBusDriver();
  EXPECT_FALSE(driver->open());
  EXPECT_FALSE(driver->isOpen());
}

}  // namespace
