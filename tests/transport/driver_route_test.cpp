// The exchange through the bus driver.

#include <algorithm>
#include <vector>

#include "bus_fixture.h"

using namespace loopmon;
using namespace loopmon::testing;

namespace {

using Codes = std::vector<uint32_t>;
constexpr uint32_t Bind = DriverCode::Bind, Send = DriverCode::SendReceive,
                   Fetch = DriverCode::Fetch, SendOnly = DriverCode::SendOnly,
                   Prepare = DriverCode::Prepare, End = DriverCode::EndReceive;
const Bytes Status5{5, 6, 0, 13, 0, 0};  // long class

class DriverExchange : public BusTest {
 protected:
  void SetUp() override {
    BusTest::SetUp();
    useDriver();
  }

  // Code-4 calls with the 2-byte buffer since the last clearCalls.
  size_t lengthPolls() const {
    auto calls = fakes.driver->calls();
    return std::count_if(calls.begin(), calls.end(),
                         [](const DriverCall& c) { return c.code == Fetch && c.outputBytes == 2; });
  }
};

TEST_F(DriverExchange, ControlCodesAndWaits) {
  fakes.driver->queueAnswer(Presence5Answer, 3);
  ASSERT_TRUE(Transact(*bus, Status5, 1));
  EXPECT_EQ(fakes.driver->codes(),
            (Codes{Bind, Prepare, Send, Fetch, Fetch, Fetch, Fetch, Fetch, End}))
      << "bound by the first exchange";
  auto calls = fakes.driver->calls();
  EXPECT_EQ(calls[2].input, withChecksum(Status5));
  EXPECT_EQ(calls[7].outputBytes, 6u) << "Length + 1";
  // n + 7 ms after the send, 2 ms after each empty poll, Length ms before the whole frame.
  EXPECT_EQ(fakes.clock->sleepsMs(), (std::vector<uint32_t>{13, 2, 2, 2, 5}));
  EXPECT_EQ(bus->Answer, Presence5Answer);
  EXPECT_TRUE(fakes.line->calls().empty());
}

TEST_F(DriverExchange, PollLimitsFollowTheCommandClass) {
  ASSERT_TRUE(OpenPort(*bus));
  const struct {
    Bytes request;
    int emptyPolls;  // -1: no answer at all
    size_t polls;
  } cases[] = {{Presence5, -1, 2}, {Status5, -1, 150}, {Status5, 140, 141}};
  for (const auto& c : cases) {
    fakes.driver->clearCalls();
    if (c.emptyPolls >= 0) fakes.driver->queueAnswer(Presence5Answer, c.emptyPolls);
    EXPECT_EQ(Transact(*bus, c.request, 1), c.emptyPolls >= 0);
    EXPECT_EQ(lengthPolls(), c.polls);
  }
}

TEST_F(DriverExchange, WaitEndsAfter350Ms) {
  ASSERT_TRUE(OpenPort(*bus));
  // Every poll announces 30 more bytes that never all arrive.
  for (int i = 0; i < 150; ++i) {
    fakes.driver->queueFetch({5, 30});
    fakes.driver->queueFetch({5, 30, 0});
  }
  const uint32_t start = fakes.clock->tickCountMs();
  EXPECT_FALSE(Transact(*bus, Status5, 1));
  // 13 ms after the send, then 30 ms a poll: the twelfth ends past 350 ms.
  EXPECT_EQ(lengthPolls(), 12u);
  EXPECT_EQ(fakes.driver->codes().back(), End);
  EXPECT_LE(fakes.clock->tickCountMs() - start, 350u + 30u);
}

TEST_F(DriverExchange, IncompleteOrBadAnswersAreRejected) {
  ASSERT_TRUE(OpenPort(*bus));
  Bytes bad = Presence5Answer;
  bad.back() ^= 0xFF;
  fakes.driver->queueAnswer(bad);
  EXPECT_FALSE(Transact(*bus, Presence5, 1));
  EXPECT_TRUE(bus->Answer.empty());
  fakes.driver->queueAnswer(answerFrame(6, 2, {0, 0}));
  EXPECT_FALSE(Transact(*bus, Presence5, 1)) << "another device's answer";
  EXPECT_TRUE(bus->Answer.empty());

  // A driver that reports more than the buffer holds is not believed.
  fakes.driver->queueFetch({5, 5});
  fakes.driver->queueFetch(Bytes(40, 5));
  EXPECT_FALSE(Transact(*bus, Presence5, 1));
}

TEST_F(DriverExchange, ModeZeroAndAcknowledgement) {
  ASSERT_TRUE(OpenPort(*bus));
  fakes.driver->clearCalls();
  ASSERT_TRUE(Transact(*bus, Presence5, 0));
  EXPECT_EQ(fakes.driver->codes(), (Codes{SendOnly}));
  EXPECT_EQ(fakes.driver->calls()[0].input, withChecksum(Presence5));

  fakes.driver->clearCalls();
  const Bytes event = answerFrame(5, 12, {1, 2});
  fakes.driver->queueAnswer(event);
  ASSERT_TRUE(Transact(*bus, Presence5, 1));
  EXPECT_EQ(fakes.driver->codes(), (Codes{Prepare, Send, Fetch, Fetch, End, SendOnly}));
  EXPECT_EQ(fakes.driver->calls().back().input, (Bytes{5, 6, 0, 3, 0, 1, 0xCD}));
  EXPECT_EQ(bus->AnswerFrame.toBytes(), event);
  EXPECT_EQ(fakes.clock->sleepsMs().size(), 2u) << "no StartTimeout pause on the driver route";
}

}  // namespace
