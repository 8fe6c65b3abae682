// The simulator's automation objects, created the late-bound way through the
// system's component library, against an in-process server registered here.

#include <gtest/gtest.h>

#include <ole2.h>

#include <thread>

#include "platform/program_folder.h"
#include "platform/registry.h"
#include "platform/simulator_link.h"
#include "platform/text_win32.h"

using namespace loopmon;

namespace {

const char* const DirectClassId = "{6E1B0D2A-4C41-4B7E-9A51-3C0D1E7A0001}";
const char* const WorkerClassId = "{6E1B0D2A-4C41-4B7E-9A51-3C0D1E7A0002}";

void forgetServer() {
  for (const wchar_t* key :
       {L"Software\\Classes\\Simul.Simulator", L"Software\\Classes\\Simul.Simul2",
        L"Software\\Classes\\CLSID\\{6E1B0D2A-4C41-4B7E-9A51-3C0D1E7A0001}",
        L"Software\\Classes\\CLSID\\{6E1B0D2A-4C41-4B7E-9A51-3C0D1E7A0002}"}) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
  }
}

void registerServer(const std::string& progId, const std::string& classId,
                    const std::string& dllPath) {
  auto registry = openSystemRegistry();
  const std::string progKey = "Software\\Classes\\" + progId + "\\CLSID";
  const std::string serverKey = "Software\\Classes\\CLSID\\" + classId + "\\InprocServer32";
  ASSERT_TRUE(registry->createKey(progKey));
  ASSERT_TRUE(registry->write(progKey, "", RegValue::ofString(classId)));
  ASSERT_TRUE(registry->createKey(serverKey));
  ASSERT_TRUE(registry->write(serverKey, "", RegValue::ofString(dllPath)));
  ASSERT_TRUE(registry->write(serverKey, "ThreadingModel", RegValue::ofString("Apartment")));
}

long liveServerObjects() {
  using Count = long(STDAPICALLTYPE*)();
  auto count = win32::procAddress<Count>(L"simul_test_server.dll", "SimulLiveObjects");
  return count ? count() : -1;
}

class SimulatorLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    forgetServer();
    const std::string dll = programFolder() + "simul_test_server.dll";
    registerServer("Simul.Simulator", DirectClassId, dll);
    registerServer("Simul.Simul2", WorkerClassId, dll);
  }
  void TearDown() override { forgetServer(); }

  std::shared_ptr<SimulatorLink> link = makeSimulatorLink();
};

TEST_F(SimulatorLinkTest, EachSideCallsItsMethodWithTheRequestText) {
  auto direct = link->create(SimulatorSide::Direct);
  EXPECT_EQ(direct->call("5 6 0 1 0 0 220"), "T 5 6 0 1 0 0 220");
  EXPECT_EQ(direct->call("0 6 0 1 0 0 61"), "") << "nobody answers address 0";
  EXPECT_EQ(direct->call("Шлейф"), "T Шлейф") << "text survives the wide string both ways";

  auto worker = link->create(SimulatorSide::Worker);
  EXPECT_EQ(worker->call("7 6 0 1 0 0 36"), "O 7 6 0 1 0 0 36");
}

// A direct-side exchange runs on whatever thread the caller is: the object
// joins the component library there and leaves it as it found it.
TEST_F(SimulatorLinkTest, ObjectsLeaveTheThreadAsTheyFoundIt) {
  std::thread exchange([&] {
    auto first = link->create(SimulatorSide::Direct);
    auto second = link->create(SimulatorSide::Direct);
    EXPECT_EQ(liveServerObjects(), 2);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE)
        << "the thread is in a single-threaded apartment while an object lives";
    second.reset();
    EXPECT_EQ(liveServerObjects(), 1) << "releasing the object releases the server's object";
    first.reset();
    const HRESULT after = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    EXPECT_EQ(after, S_OK) << "every CoInitialize was balanced";
    if (SUCCEEDED(after)) CoUninitialize();
  });
  exchange.join();
}

TEST(SimulatorLinkUnavailable, NoServerMeansTheObjectCannotBeCreated) {
  forgetServer();
  auto link = makeSimulatorLink();
  try {
    link->create(SimulatorSide::Direct);
    FAIL() << "created an object of an unregistered server";
  } catch (const SimulatorUnavailable& error) {
    EXPECT_NE(std::string(error.what()).find("Simul.Simulator"), std::string::npos) << error.what();
  }

  const HRESULT after = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  EXPECT_EQ(after, S_OK) << "a failed creation leaves the thread as it found it";
  if (SUCCEEDED(after)) CoUninitialize();
}

}  // namespace
