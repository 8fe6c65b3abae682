// Simulator mode of the Windows build: another process holds the marker
// "SIMUL", so a session sends every exchange to the registered automation
// server instead of the port, the window side through "Simul.Simulator" and
// the worker, on its own thread, through "Simul.Simul2".

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "child_process.h"
#include "device_list_view.h"
#include "platform/platform.h"
#include "platform/program_folder.h"
#include "session/rssess.h"
#include "simul_registration.h"

using namespace loopmon;
using namespace loopmon::test;

namespace {

class SimulatorMode : public ::testing::Test {
 protected:
  void SetUp() override {
    forgetSimulatorServer();
    registerSimulatorServer();
  }
  void TearDown() override {
    release.set();
    holder.wait(30000);
    forgetSimulatorServer();
  }

  LoadedServer server;
  // The marker of the simulator server, as another program holds it.
  NamedEvent ready{"simulator-mode-ready"};
  NamedEvent release{"simulator-mode-release"};
  ChildProcess holder{"\"" + programFolder() +
                      "marker_holder.exe\" SIMUL simulator-mode-ready simulator-mode-release"};
};

TEST_F(SimulatorMode, SearchAndWorkerGoToTheAutomationServer) {
  ASSERT_TRUE(holder.started());
  ASSERT_TRUE(ready.wait(30000));
  TRSSession session(Platform::system());
  ASSERT_TRUE(session.Simulator.enabled) << "SIMUL existed when the session was made";

  // COM4 has nothing behind it: every answer comes from the server.
  session.SetComPort(4);
  DeviceList list("COM4");
  SearchProcedure search(list, &session);
  const long transceiving = simulatorTransceivingCalls();
  for (uint8_t address : {5, 6, 12}) search.IdentifyAddress(address);
  EXPECT_EQ(session.GetDeviceType(5), 1);
  EXPECT_EQ(session.GetDeviceType(6), NoDevice);
  EXPECT_EQ(session.GetDeviceType(12), 2);
  EXPECT_EQ(list.lines.size(), 2u);
  EXPECT_GE(simulatorTransceivingCalls(), transceiving + 4) << "two presences, two identities";
  EXPECT_EQ(simulatorLiveObjects(), 0) << "one object per direct exchange, released after it";

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
  EXPECT_GT(simulatorObmenCalls(), 0) << "the worker's polls went through Obmen";
}

}  // namespace
