// The ledger of a remote line's owed answers, driven without a network: which
// bytes go on to the request in flight, which pay an answer owed to another
// request, and when a request must wait for what its device still owes.

#include "platform/remote/owed_answers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

using namespace loopmon;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<uint8_t>;
const OwedAnswers::Time T0{};

const Bytes Loop1{5, 6, 0, 0x1B, 1, 0, 0xA1}, Loop2{5, 6, 0, 0x1B, 2, 0, 0xB2};
const Bytes Presence6{6, 6, 0, 1, 0, 0, 0xC3};
const Bytes Answer1{5, 5, 0x1C, 1, 10, 0x11}, Answer2{5, 5, 0x1C, 2, 20, 0x22};
const Bytes From6{6, 5, 2, 0, 0, 0x33}, From7{7, 5, 2, 0, 0, 0x44};

Bytes sorted(OwedAnswers& owed, const Bytes& bytes, OwedAnswers::Time at = T0) {
  std::deque<uint8_t> handedOn;
  owed.sort(bytes.data(), bytes.size(), handedOn, at);
  return Bytes(handedOn.begin(), handedOn.end());
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

TEST(OwedAnswers, OnlyWhatTheRequestInFlightMayTakeGoesOn) {
  struct Case {
    const char* what;
    std::vector<const Bytes*> triesGivenUp;  // each sent and given up in turn
    const Bytes* inFlight;
    Bytes arriving;
    Bytes handedOn;
  };
  const Bytes noise{0xFF, 0x00};
  const Case cases[] = {
      {"nothing owed: everything as it came", {}, &Loop1, noise + Answer1, noise + Answer1},
      {"the try before's answer serves its retry",
       {&Loop1},
       &Loop1,
       Answer1 + Answer1,
       Answer1 + Answer1},
      {"a silent device's late answer is dropped", {&Presence6}, &Loop1, From6 + Answer1, Answer1},
      {"an answer nobody owes goes on for the engine to refuse",
       {&Presence6},
       &Loop1,
       From7 + Answer1,
       From7 + Answer1},
      {"an owed frame whose payload looks like a frame start",
       {&Presence6},
       &Loop1,
       Bytes{6, 6, 2, 5, 7, 0, 0x55} + Answer1,
       Answer1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OwedAnswers owed;
    for (const Bytes* request : c.triesGivenUp) {
      owed.requestSent(request->data(), request->size(), T0);
      owed.tryGaveUp();
    }
    owed.requestSent(c.inFlight->data(), c.inFlight->size(), T0);
    // Byte by byte and all at once alike: frames are found across chunks.
    Bytes oneByOne;
    OwedAnswers copy = owed;
    for (const uint8_t byte : c.arriving) oneByOne = oneByOne + sorted(copy, {byte});
    EXPECT_EQ(oneByOne, c.handedOn);
    EXPECT_EQ(sorted(owed, c.arriving), c.handedOn);
  }
}

TEST(OwedAnswers, ADifferentRequestWaitsForWhatItsDeviceOwes) {
  OwedAnswers owed;
  owed.requestSent(Loop1.data(), Loop1.size(), T0);
  owed.tryLimits(600, T0 + 650ms);
  owed.tryGaveUp();
  owed.requestSent(Loop1.data(), Loop1.size(), T0 + 610ms);
  owed.tryLimits(600, T0 + 1260ms);
  EXPECT_EQ(owed.owedBefore(Loop1.data(), Loop1.size()), 0u) << "its own retry";
  EXPECT_EQ(owed.owedBefore(Loop2.data(), Loop2.size()), 2u);
  EXPECT_EQ(owed.owedBefore(Presence6.data(), Presence6.size()), 0u) << "another device";
  EXPECT_EQ(owed.awaitedUntil(Loop2.data()), T0 + 1260ms);

  // The first try's answer, 650 ms after it went out (50 ms past its local
  // limit), serves the retry; it is known to be the first try's once the
  // retry's own has come too.
  std::deque<uint8_t> handedOn;
  EXPECT_TRUE(owed.sort(Answer1.data(), Answer1.size(), handedOn, T0 + 650ms).empty());
  EXPECT_EQ(Bytes(handedOn.begin(), handedOn.end()), Answer1);
  EXPECT_EQ(owed.owedBefore(Loop2.data(), Loop2.size()), 1u) << "the retry's own is still owed";
  const auto late = owed.sort(Answer1.data(), Answer1.size(), handedOn, T0 + 660ms);
  ASSERT_EQ(late.size(), 1u);
  EXPECT_DOUBLE_EQ(late[0].beyondLocalLimitMs, 50);
  EXPECT_EQ(owed.owedBefore(Loop2.data(), Loop2.size()), 0u);

  owed.requestSent(Loop2.data(), Loop2.size(), T0 + 700ms);
  owed.tryGaveUp();
  owed.forgetAll();
  EXPECT_EQ(owed.owedBefore(Loop1.data(), Loop1.size()), 0u) << "a new connection owes nothing";
  EXPECT_EQ(sorted(owed, Answer2), Answer2);
}
