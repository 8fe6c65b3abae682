// Simulator mode of the Windows build: loopsim.exe serves the demo bus as a
// local automation server and holds "SIMUL", so a session sends every
// exchange to it instead of the port, the direct side through
// "Simul.Simulator" and the worker, on its own thread, through "Simul.Simul2".

#include <gtest/gtest.h>

#include <ole2.h>

#include <condition_variable>
#include <future>
#include <mutex>

#include "loopsim_serve_win32.h"
#include "platform/platform.h"
#include "platform/simulator/simulator_link.h"
#include "platform/store/program_folder.h"
#include "platform/system/windows_api_win32.h"
#include "search_view_fake.h"
#include "session/bus_runner.h"
#include "session/session.h"
#include "transport/bus_state.h"

using namespace loopmon;

namespace {

void expectApartmentAsFound(const char* after) {
  const HRESULT apartment = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  EXPECT_EQ(apartment, S_OK) << after << " leaves the thread's apartment as it found it";
  if (SUCCEEDED(apartment)) CoUninitialize();
}

class SimulatorMode : public ::testing::Test {
 protected:
  // Every call it answers is in its trace, with the method's name.
  loopmon::testing::LoopsimServe server{"--trace"};
};

TEST_F(SimulatorMode, SearchAndWorkerGoToTheAutomationServer) {
  TRSSession session(Platform::system());
  ASSERT_TRUE(session.SimulatorMode()) << "SIMUL of the other process is seen";
  bool existed = false;
  EXPECT_NE(makeMarkerService(runtimeFolder)->create("SIMUL", existed), nullptr);
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
  EXPECT_GE(server.countInLog("Transceiving ->"), 4) << "two presences, two identities";
  EXPECT_EQ(server.countInLog("Obmen ->"), 0);
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
  EXPECT_GT(server.countInLog("Obmen ->"), 0) << "the worker's polls went through Obmen";
}

// As an installation registers loopsim.exe for the machine.
void registerLoopsim() {
  wchar_t server[MAX_PATH] = {};
  GetFullPathNameW(win32::widen(LOOPSIM_PATH).c_str(), MAX_PATH, server, nullptr);
  const std::wstring classId = L"{1C9E6E63-7226-4772-9AC9-C55F2CB8C05C}";
  const auto text = [](const std::wstring& key, const std::wstring& value) {
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\" + key).c_str(), nullptr, REG_SZ,
                    value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  };
  text(L"Simul.Simulator\\CLSID", classId);
  text(L"CLSID\\" + classId + L"\\LocalServer32", L"\"" + std::wstring(server) + L"\"");
}

// No loopsim serves: unregistered, the class is not found; registered, COM
// starts loopsim.exe -Embedding, which must not serve a bus of its own.
TEST(SimulatorLink, NoObjectWhileNoLoopsimServes) {
  for (const bool registered : {false, true}) {
    loopmon::testing::LoopsimServe::forgetRegistration();
    if (registered) registerLoopsim();
    try {
      makeSimulatorLink()->create(SimulatorSide::Direct);
      ADD_FAILURE() << "created an object, registered " << registered;
    } catch (const SimulatorUnavailable& error) {
      EXPECT_NE(std::string(error.what()).find(registered ? "Cannot create" : "Cannot find"),
                std::string::npos)
          << error.what();
      EXPECT_EQ(error.problem(),
                registered ? SimulatorProblem::NotServing : SimulatorProblem::NotRegistered)
          << error.what();
    }
    EXPECT_FALSE(makeMarkerService(runtimeFolder)->openExisting("SIMUL"))
        << "registered " << registered;
  }
  loopmon::testing::LoopsimServe::forgetRegistration();
  expectApartmentAsFound("a failed creation");
}

// A program started together with loopsim finds "SIMUL" before the objects
// answer: it waits for them while loopsim says it is starting (held here a
// moment longer than loopsim holds it) instead of failing.
TEST(SimulatorLink, WaitsForAStartingServer) {
  bool existed = false;
  auto starting = makeMarkerService(runtimeFolder)->create("loopsim-starting", existed);
  ASSERT_NE(starting, nullptr);
  loopmon::testing::LoopsimServe server;
  auto client = std::async(std::launch::async, [] {
    try {
      return makeSimulatorLink()->create(SimulatorSide::Direct)->call("5 6 0 1 0 0 220");
    } catch (const SimulatorUnavailable& error) {
      return std::string("unavailable: ") + error.what();
    }
  });
  EXPECT_EQ(client.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout)
      << "did not wait: " << client.get();
  starting.reset();
  const std::string answer = client.get();
  EXPECT_FALSE(answer.empty());
  EXPECT_EQ(answer.find("unavailable"), std::string::npos) << answer;
}

}  // namespace
