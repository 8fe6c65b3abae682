// The simulator's automation objects, created the late-bound way through the
// system's component library, against an in-process server registered here.

#include <gtest/gtest.h>

#include <ole2.h>

#include <thread>

#include "platform/simulator_link.h"
#include "simul_registration.h"
#include "transport/frame.h"

using namespace loopmon;
using namespace loopmon::test;

namespace {

std::string requestText(Bytes request) {
  request.push_back(FrameChecksum(request));
  return frameToText(request);
}

class SimulatorLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    forgetSimulatorServer();
    registerSimulatorServer();
  }
  void TearDown() override { forgetSimulatorServer(); }

  std::shared_ptr<SimulatorLink> link = makeSimulatorLink();
};

TEST_F(SimulatorLinkTest, EachSideCallsItsMethodWithTheRequestText) {
  auto direct = link->create(SimulatorSide::Direct);
  const long transceiving = simulatorTransceivingCalls();
  const long obmen = simulatorObmenCalls();
  EXPECT_EQ(direct->call(requestText({5, 6, 0, 1, 0, 0})), "5 5 2 0 0 28") << "present";
  EXPECT_EQ(direct->call(requestText({6, 6, 0, 1, 0, 0})), "") << "nobody at 6";
  EXPECT_EQ(simulatorTransceivingCalls(), transceiving + 2);

  auto worker = link->create(SimulatorSide::Worker);
  const std::string identity = worker->call(requestText({12, 6, 0, 13, 0, 0}));
  const std::optional<Bytes> frame = frameFromText(identity);
  ASSERT_TRUE(frame) << identity;
  EXPECT_EQ(frame->at(3), 2) << "type";
  EXPECT_EQ(frame->at(4), 110) << "version";
  EXPECT_EQ(simulatorObmenCalls(), obmen + 1);
  EXPECT_EQ(simulatorTransceivingCalls(), transceiving + 2);
}

// A direct-side exchange runs on whatever thread the caller is: the object
// joins the component library there and leaves it as it found it.
TEST_F(SimulatorLinkTest, ObjectsLeaveTheThreadAsTheyFoundIt) {
  std::thread exchange([&] {
    auto first = link->create(SimulatorSide::Direct);
    auto second = link->create(SimulatorSide::Direct);
    EXPECT_EQ(simulatorLiveObjects(), 2);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE)
        << "the thread is in a single-threaded apartment while an object lives";
    second.reset();
    EXPECT_EQ(simulatorLiveObjects(), 1) << "releasing the object releases the server's object";
    first.reset();
    const HRESULT after = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    EXPECT_EQ(after, S_OK) << "every CoInitialize was balanced";
    if (SUCCEEDED(after)) CoUninitialize();
  });
  exchange.join();
}

TEST(SimulatorLinkUnavailable, NoServerMeansTheObjectCannotBeCreated) {
  forgetSimulatorServer();
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
