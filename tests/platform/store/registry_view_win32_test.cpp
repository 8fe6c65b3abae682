// What a 64-bit build shares with the 32-bit programs of an existing
// installation: the line settings live in the registry's 32-bit view, and a
// simulator server registered there only as a 32-bit DLL is named as the
// cause when its object cannot be created. Wine keeps the two views apart as
// 64-bit Windows does; the values are set and checked with its reg.exe, the
// way an engineer or a set-up tool would.

#include <gtest/gtest.h>

#include <vector>

#include "platform/simulator/simulator_link.h"
#include "platform/store/registry.h"
#include "platform/system/os_version.h"
#include "platform/system/windows_api_win32.h"
#include "transport/bus_state.h"

using namespace loopmon;

namespace {

// Runs reg.exe with the arguments, its output dropped; true when it succeeded.
bool reg(const std::wstring& arguments) {
  std::wstring command = L"reg.exe " + arguments;
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  HANDLE nowhere =
      CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherited, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = nowhere;
  PROCESS_INFORMATION process{};
  const bool started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
  CloseHandle(nowhere);
  if (!started) return false;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 1;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return status == 0;
}

const std::wstring Rs = L"HKLM\\Software\\TAVIX\\VELTA\\RS";
constexpr const wchar_t* View32 = L" /reg:32 /f";
constexpr const wchar_t* View64 = L" /reg:64 /f";

void forgetLineSettings() {
  for (const wchar_t* view : {View32, View64})
    reg(L"delete HKLM\\Software\\TAVIX" + std::wstring(view));
}

BusState systemBus() {
  Platform platform;
  platform.registry = openSystemRegistry();
  platform.isNt = queryOsVersion().ntPlatform;
  return BusState(std::move(platform));
}

TEST(LineSettings, LiveInThe32BitViewWhereTheInstallationKeepsThem) {
  forgetLineSettings();
  ASSERT_TRUE(reg(L"add " + Rs + L" /v CmdTimeoutConstant /t REG_DWORD /d 250" + View32));
  ASSERT_TRUE(reg(L"add " + Rs + L" /v SmartPI /t REG_SZ /d \"\"" + View32));
  ASSERT_TRUE(reg(L"add " + Rs + L" /v USARTMode /t REG_NONE" + View32));
  ASSERT_TRUE(reg(L"add " + Rs + L" /v TimeoutConstant /t REG_DWORD /d 99" + View64));
  BusState bus = systemBus();
  LoadLineSettings(bus);
  EXPECT_EQ(bus.Settings.CmdTimeoutConstant, 250u);
  EXPECT_TRUE(bus.Settings.SmartPI) << "present as an empty string";
  EXPECT_TRUE(bus.Settings.USARTMode) << "present as REG_NONE";
  EXPECT_EQ(bus.Settings.TimeoutConstant, 30u) << "a value only 64-bit programs see is not read";
  EXPECT_EQ(bus.Settings.StartTimeout, 4u) << "an NT-family system";
  for (const wchar_t* name : {L"StartTimeout", L"TailInUS"}) {
    const std::wstring query = L"query " + Rs + L" /v " + name;
    EXPECT_TRUE(reg(query + L" /reg:32")) << "written back for the 32-bit programs";
    EXPECT_FALSE(reg(query + L" /reg:64")) << "no second set of values";
  }

  ASSERT_TRUE(reg(L"add " + Rs + L" /v TimeoutConstant /t REG_SZ /d 30" + View32));
  EXPECT_THROW(LoadLineSettings(bus), LineSettingsError) << "a number stored as text";
  forgetLineSettings();
}

// The test server's class, written where a 32-bit regsvr32 of an existing
// installation puts it.
constexpr const wchar_t* ClassId = L"{6E1B0D2A-4C41-4B7E-9A51-3C0D1E7A0001}";

void forgetServer32() {
  reg(L"delete HKLM\\Software\\Classes\\Simul.Simulator" + std::wstring(View32));
  reg(L"delete HKLM\\Software\\Classes\\CLSID\\" + std::wstring(ClassId) + View32);
}

TEST(SimulatorLink, A32BitInprocServerIsNamedAsTheCause) {
  const std::wstring classKey = L"HKLM\\Software\\Classes\\CLSID\\" + std::wstring(ClassId);
  const struct {
    const char* registered;
    std::vector<const wchar_t*> serverKeys;
    bool named;
  } cases[] = {
      {"only an in-process DLL", {L"InprocServer32"}, true},
      {"a local server too", {L"InprocServer32", L"LocalServer32"}, false},
  };
  for (const auto& c : cases) {
    forgetServer32();
    ASSERT_TRUE(reg(L"add HKLM\\Software\\Classes\\Simul.Simulator\\CLSID /ve /d " +
                    std::wstring(ClassId) + View32));
    for (const wchar_t* server : c.serverKeys) {
      ASSERT_TRUE(reg(L"add " + classKey + L"\\" + server + L" /ve /d C:\\simul32.dll" + View32));
    }
    try {
      makeSimulatorLink()->create(SimulatorSide::Direct);
      ADD_FAILURE() << c.registered << ": created an object of a 32-bit server";
    } catch (const SimulatorUnavailable& error) {
      const std::string text = error.what();
      EXPECT_EQ(text.find("the simulator server is a 32-bit in-process server; register it as a "
                          "local server or use a surrogate") != std::string::npos,
                c.named)
          << c.registered << ": " << text;
      EXPECT_NE(text.find("Simul.Simulator"), std::string::npos) << text;
    }
  }
  forgetServer32();
}

}  // namespace
