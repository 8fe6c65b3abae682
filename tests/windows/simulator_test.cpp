// Simulator mode of the Windows build: another process holds "SIMUL", so a
// session sends every exchange to the automation server registered here
// instead of the port, the direct side through "Simul.Simulator" and the
// worker, on its own thread, through "Simul.Simul2".

#include <gtest/gtest.h>

#include <ole2.h>

#include <condition_variable>
#include <mutex>

#include "platform/platform.h"
#include "platform/program_folder.h"
#include "platform/simulator_link.h"
#include "platform/text_win32.h"
#include "search_view_fake.h"
#include "session/bus_runner.h"
#include "session/session.h"

using namespace loopmon;

namespace {

constexpr std::pair<const char*, const char*> ServerClasses[] = {
    {"Simul.Simulator", "{6E1B0D2A-4C41-4B7E-9A51-3C0D1E7A0001}"},
    {"Simul.Simul2", "{6E1B0D2A-4C41-4B7E-9A51-3C0D1E7A0002}"},
};

void forgetSimulatorServer() {
  for (const auto& [progId, classId] : ServerClasses) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE,
                   win32::widen(std::string("Software\\Classes\\") + progId).c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE,
                   win32::widen(std::string("Software\\Classes\\CLSID\\") + classId).c_str());
  }
}

// As the installer of a 64-bit in-process server registers it.
void registerSimulatorServer() {
  const auto text = [](const std::string& key, const wchar_t* name, const std::string& value) {
    const std::wstring wide = win32::widen(value);
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, win32::widen(key).c_str(), name, REG_SZ, wide.c_str(),
                    static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
  };
  for (const auto& [progId, classId] : ServerClasses) {
    const std::string serverKey =
        std::string("Software\\Classes\\CLSID\\") + classId + "\\InprocServer32";
    text(std::string("Software\\Classes\\") + progId + "\\CLSID", nullptr, classId);
    text(serverKey, nullptr, programFolder() + "simul_test_server.dll");
    text(serverKey, L"ThreadingModel", "Apartment");
  }
}

enum ServerCount { LiveObjects, TransceivingCalls, ObmenCalls };
long serverCount(ServerCount which) {
  using Count = long(STDAPICALLTYPE*)(int);
  auto count = win32::procAddress<Count>(L"simul_test_server.dll", "SimulCount");
  return count ? count(which) : -1;
}

void expectApartmentAsFound(const char* after) {
  const HRESULT apartment = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  EXPECT_EQ(apartment, S_OK) << after << " leaves the thread's apartment as it found it";
  if (SUCCEEDED(apartment)) CoUninitialize();
}

class SimulatorMode : public ::testing::Test {
 protected:
  void SetUp() override {
    forgetSimulatorServer();
    registerSimulatorServer();
    std::wstring command = win32::widen("\"" + programFolder() + "simul_holder.exe\"");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &holder));
    auto markers = makeMarkerService();
    for (int tries = 0; tries < 300 && !markers->openExisting("SIMUL"); ++tries) Sleep(100);
  }
  void TearDown() override {
    if (holder.hProcess) {
      TerminateProcess(holder.hProcess, 0);
      WaitForSingleObject(holder.hProcess, INFINITE);
      CloseHandle(holder.hThread);
      CloseHandle(holder.hProcess);
    }
    FreeLibrary(server);
    forgetSimulatorServer();
  }

  PROCESS_INFORMATION holder{};
  // Keeps the server's counts across the release of the component library
  // after every direct-side exchange.
  HMODULE server = LoadLibraryW(win32::widen(programFolder() + "simul_test_server.dll").c_str());
};

TEST_F(SimulatorMode, SearchAndWorkerGoToTheAutomationServer) {
  TRSSession session(Platform::system());
  ASSERT_TRUE(session.Simulator.enabled) << "SIMUL of the other process is seen";
  bool existed = false;
  EXPECT_NE(makeMarkerService()->create("SIMUL", existed), nullptr);
  EXPECT_TRUE(existed) << "the other process created it first";

  // COM4 has nothing behind it: every answer comes from the server.
  session.SetComPort(4);
  loopmon::testing::RecordingSearchView list;
  list.port = "COM4";
  InlineBus bus(session);
  SearchProcedure search(list, &bus);
  for (uint8_t address : {5, 6, 12}) search.IdentifyAddress(address);
  EXPECT_EQ(session.GetDeviceType(5), 1);
  EXPECT_EQ(session.GetDeviceType(6), NoDevice);
  EXPECT_EQ(session.GetDeviceType(12), 2);
  EXPECT_EQ(list.lines.size(), 2u);
  EXPECT_GE(serverCount(TransceivingCalls), 4) << "two presences, two identities";
  EXPECT_EQ(serverCount(ObmenCalls), 0);
  EXPECT_EQ(serverCount(LiveObjects), 0) << "one object per direct exchange, released after it";
  expectApartmentAsFound("every direct exchange");

  // The device at 20 has an alarm pending: the worker's poll finds it.
  std::mutex lock;
  std::condition_variable changed;
  Bytes event;
  session.OnNewEvent = [&](Bytes frame) {
    const std::lock_guard<std::mutex> hold(lock);
    if (event.empty()) event = std::move(frame);
    changed.notify_all();
  };
  ASSERT_TRUE(session.SetPollSchedule({20}));
  session.SetWork(true);
  {
    std::unique_lock<std::mutex> hold(lock);
    changed.wait_for(hold, std::chrono::seconds(20), [&] { return !event.empty(); });
  }
  session.SetWork(false);
  ASSERT_FALSE(event.empty()) << "no event from the worker";
  EXPECT_EQ(event[0], 20);
  EXPECT_EQ(event[2], 4) << "an event answer";
  EXPECT_GT(serverCount(ObmenCalls), 0) << "the worker's polls went through Obmen";
}

TEST(SimulatorLink, AnUnregisteredServerCannotBeCreated) {
  forgetSimulatorServer();
  try {
    makeSimulatorLink()->create(SimulatorSide::Direct);
    FAIL() << "created an object of an unregistered server";
  } catch (const SimulatorUnavailable& error) {
    EXPECT_NE(std::string(error.what()).find("Simul.Simulator"), std::string::npos) << error.what();
  }
  expectApartmentAsFound("a failed creation");
}

}  // namespace
