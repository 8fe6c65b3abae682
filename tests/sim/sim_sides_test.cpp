// The two simulator sides on two threads, against a real `loopsim serve`.

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <thread>

#include "sim_fixture.h"

using namespace loopmon;
using namespace loopmon::testing;

namespace {

const char* const Scenario = "[device 5]\ntype = 1\n[device 20]\ntype = 4\n";

ptrdiff_t positionOf(const std::vector<std::string>& log, const std::string& event) {
  return std::find(log.begin(), log.end(), event) - log.begin();
}

}  // namespace

TEST(SimulatorSides, WorkerHoldsItsCallWhileTheDirectSideRuns) {
  SimulatorServer server(Scenario);
  ASSERT_TRUE(server.ready());
  SimulatorBus sim(makeSimulatorLink());
  CreateWorkerSimulator(sim.bus);

  // The direct side is held inside its pause before the call.
  std::promise<void> directInside;
  std::promise<void> releaseDirect;
  std::shared_future<void> released = releaseDirect.get_future().share();
  sim.clock->onSleep = [&, once = std::make_shared<std::once_flag>()](uint32_t ms) {
    if (ms == 30) {
      std::call_once(*once, [&] {
        directInside.set_value();
        released.wait();
      });
    }
  };
  std::future<bool> direct = std::async(std::launch::async, [&] {
    return SimTransactDirect(sim.bus, {5, 6, 0, 1, 0, 0}, 1);
  });
  directInside.get_future().wait();

  std::atomic<bool> workerDone{false};
  std::thread worker([&] {
    EXPECT_TRUE(SimTransactWorker(sim.bus, {20, 6, 0, 1, 0, 1}, 1));
    workerDone = true;
  });
  // Not a timing requirement: the worker must not have called however long we wait.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(workerDone);
  releaseDirect.set_value();
  EXPECT_TRUE(direct.get());
  worker.join();

  const auto log = sim.log.take();
  const auto directRelease = positionOf(log, "release Transceiving");
  const auto workerCall = positionOf(log, "Obmen 20 6 0 1 0 1 238");
  ASSERT_LT(workerCall, static_cast<ptrdiff_t>(log.size()));
  EXPECT_LT(directRelease, workerCall) << "the worker called only once the direct object was gone";
  EXPECT_EQ(sim.bus.Answer[0], 20) << "the worker's answer is the last one stored";
}

TEST(SimulatorSides, ServerDyingDuringTheCall) {
  SimulatorServer server(Scenario);
  ASSERT_TRUE(server.ready());
  SimulatorBus sim(makeSimulatorLink());
  CreateWorkerSimulator(sim.bus);

  // The server takes the request but never answers: it is stopped, then killed.
  server.process().pause();
  std::future<bool> exchange = std::async(std::launch::async, [&] {
    return SimTransactWorker(sim.bus, {5, 6, 0, 1, 0, 1}, 1);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  server.process().kill();
  EXPECT_FALSE(exchange.get());
  EXPECT_TRUE(sim.bus.Answer.empty());
  EXPECT_EQ(sim.bus.AnswerFrame.count, 0);
}
