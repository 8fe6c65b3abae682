// The exchange over the serial port, against the scripted fake line.

#include <algorithm>
#include <string>
#include <vector>

#include "bus_fixture.h"

using namespace loopmon;
using namespace loopmon::testing;

namespace {

using Texts = std::vector<std::string>;

const Bytes Presence5{5, 6, 0, 1, 0, 0};  // on the wire: 05 06 00 01 00 00 DC
const Bytes Presence5Answer = answerFrame(5, 0, {0x21, 0x64});

class SerialExchange : public BusTest {
 protected:
  // Opens the port up front so that a test sees the exchange's own calls only.
  void openFirst() {
    ASSERT_TRUE(OpenPort(*bus));
    fakes.line->clearCalls();
  }

  void setSetting(const char* name, RegValue value) {
    fakes.registry->set(LineSettingsKey, name, value);
    remake();
  }

  const SerialCall& first(SerialCall::Kind kind, bool on = true) {
    calls = fakes.line->calls();
    auto it = std::find_if(calls.begin(), calls.end(), [&](const SerialCall& c) {
      return c.kind == kind &&
             ((kind != SerialCall::Kind::Dtr && kind != SerialCall::Kind::Rts) || c.on == on);
    });
    EXPECT_NE(it, calls.end());
    return *it;
  }

  std::vector<SerialCall> calls;
};

TEST_F(SerialExchange, TimedSendCallOrder) {
  fakes.line->queueAnswer(Presence5Answer);
  ASSERT_TRUE(Transact(*bus, Presence5, 1));
  EXPECT_EQ(fakes.line->callTexts(),
            (Texts{// the closed port is opened first
                   "open COM1", "getState", "setState 9600,8,0,0", "queues 300,0", "getTimeouts",
                   "timeouts 0,0,600,0,0",
                   // the exchange
                   "getTimeouts", "timeouts 0,0,30,0,0", "dtr 0", "rts 1", "purge TxClear",
                   "purge TxAbort", "purge RxClear", "purge RxAbort", "write 05 06 00 01 00 00",
                   "write DC", "purge RxClear", "purge RxAbort", "dtr 1", "rts 0", "errors 0",
                   "read 6 -> 6", "dtr 0", "rts 1"}));
  EXPECT_EQ(bus->Answer, Presence5Answer);
  EXPECT_EQ(bus->AnswerFrame.toBytes(), Presence5Answer);
  EXPECT_EQ(fakes.clock->sleepsMs(), (std::vector<uint32_t>{4}))
      << "StartTimeout after the exchange";
  EXPECT_FALSE(fakes.line->dtr());
  EXPECT_TRUE(fakes.line->rts());
}

TEST_F(SerialExchange, TimedSendTurnsRoundTailAfterTheLastStopBit) {
  for (uint32_t tail : {400u, 0u, 2500u}) {
    SCOPED_TRACE(tail);
    setSetting("TailInUS", RegValue::ofDword(tail));
    openFirst();
    fakes.line->queueAnswer(Presence5Answer);
    ASSERT_TRUE(Transact(*bus, Presence5, 1));
    // The counter is read just before the first write, which the fake stamps
    // one counter read (1 us) later.
    const int64_t due = first(SerialCall::Kind::Write).atMicros - 1 + 7 * 1041 + tail;
    const int64_t turned = first(SerialCall::Kind::Dtr, true).atMicros;
    EXPECT_GE(turned, due);
    EXPECT_LT(turned, due + 100);
    const int64_t purged =
        std::find_if(calls.begin(), calls.end(),
                     [](const SerialCall& c) {
                       return c.kind == SerialCall::Kind::Write && c.bytes.size() == 1;
                     })[1]
            .atMicros;
    EXPECT_GE(purged, due) << "nothing of the line's echo is kept";
  }
  EXPECT_FALSE(fakes.clock->sleepsMicros().empty()) << "the wait sleeps before it spins";
}

TEST_F(SerialExchange, PaddedSendWithoutCounterOrInUsartMode) {
  const Texts padded{"getTimeouts",
                     "timeouts 0,0,30,0,0",
                     "dtr 0",
                     "rts 1",
                     "purge TxClear",
                     "purge TxAbort",
                     "purge RxClear",
                     "purge RxAbort",
                     "write 05 06 00 01 00 00 DC FF",
                     "write FF",
                     "purge RxClear",
                     "purge RxAbort",
                     "dtr 1",
                     "rts 0",
                     "errors 0",
                     "read 6 -> 6",
                     "dtr 0",
                     "rts 1"};
  // No high-resolution counter.
  bus->CounterFrequency = 0;
  openFirst();
  fakes.line->queueAnswer(Presence5Answer);
  ASSERT_TRUE(Transact(*bus, Presence5, 1));
  EXPECT_EQ(fakes.line->callTexts(), padded);

  setSetting("USARTMode", RegValue::ofDword(0));
  openFirst();
  fakes.line->queueAnswer(Presence5Answer);
  ASSERT_TRUE(Transact(*bus, Presence5, 1));
  EXPECT_EQ(fakes.line->callTexts(), padded);
  EXPECT_TRUE(fakes.clock->sleepsMicros().empty()) << "no wait after the padded writes";
}

TEST_F(SerialExchange, SmartPiLeavesTheLinesAndTheReceiveBufferAlone) {
  fakes.registry->set(LineSettingsKey, "SmartPI", RegValue::ofString(""));
  setSetting("USARTMode", RegValue::ofString(""));
  openFirst();
  fakes.line->queueAnswer(Presence5Answer);
  ASSERT_TRUE(Transact(*bus, Presence5, 1));
  EXPECT_EQ(fakes.line->callTexts(),
            (Texts{"getTimeouts", "timeouts 0,0,30,0,0", "purge TxClear", "purge TxAbort",
                   "purge RxClear", "purge RxAbort", "write 05 06 00 01 00 00 DC", "errors 0",
                   "read 6 -> 6"}));

  // With a counter and without USARTMode the send is timed, still without line changes.
  fakes.registry->remove(LineSettingsKey, "USARTMode");
  remake();
  openFirst();
  fakes.line->queueAnswer(Presence5Answer);
  ASSERT_TRUE(Transact(*bus, Presence5, 1));
  for (const SerialCall& call : fakes.line->calls()) {
    EXPECT_NE(call.kind, SerialCall::Kind::Dtr);
    EXPECT_NE(call.kind, SerialCall::Kind::Rts);
  }
  EXPECT_EQ(fakes.line->writtenBytes(), withChecksum(Presence5)) << "no padding";
}

TEST_F(SerialExchange, ReadTimeoutsFollowTheCommandClass) {
  // Defaults: the short class gives up after 30 ms, the long one after 600 ms.
  for (auto [command, waitMs] : {std::pair{1, 30}, {3, 30}, {13, 600}, {0x1B, 600}}) {
    SCOPED_TRACE(command);
    const int64_t before = fakes.clock->nowMicros();
    EXPECT_FALSE(Transact(*bus, {5, 6, 0, static_cast<uint8_t>(command), 0, 0}, 1));
    const int64_t took = fakes.clock->nowMicros() - before;
    // One read that times out, plus the send and the 4 ms pause.
    EXPECT_GE(took, (waitMs + 4) * 1000);
    EXPECT_LT(took, (waitMs + 4) * 1000 + 10'000);
  }

  const char* names[] = {"IntervalTimeout",    "TimeoutMultiplier",    "TimeoutConstant",
                         "CmdIntervalTimeout", "CmdTimeoutMultiplier", "CmdTimeoutConstant"};
  for (uint32_t i = 0; i < 6; ++i) {
    fakes.registry->set(LineSettingsKey, names[i], RegValue::ofDword(i + 1));
  }
  remake();
  for (auto [command, expected] :
       {std::pair{1, "1,2,3"}, {3, "1,2,3"}, {0, "4,5,6"}, {2, "4,5,6"}, {13, "4,5,6"}}) {
    SCOPED_TRACE(command);
    openFirst();
    fakes.line->queueAnswer(answerFrame(5, 0, {0, 0}));
    Transact(*bus, {5, 6, 0, static_cast<uint8_t>(command), 0, 0}, 1);
    const SerialCall& read = first(SerialCall::Kind::Read);
    const CommTimeouts& t = read.timeouts;
    EXPECT_EQ(std::to_string(t.readIntervalMs) + "," + std::to_string(t.readTotalMultiplierMs) +
                  "," + std::to_string(t.readTotalConstantMs),
              expected);
    EXPECT_EQ(t.writeTotalMultiplierMs + t.writeTotalConstantMs, 0u);
  }
}

TEST_F(SerialExchange, AnswerChecks) {
  Bytes lengthSix{5, 6, 0, 0x21, 0x64};
  lengthSix.push_back(FrameChecksum(lengthSix));
  Bytes badChecksum = Presence5Answer;
  badChecksum.back() ^= 1;
  Bytes longest{5, 30, 0};
  longest.resize(30, 7);
  longest = withChecksum(longest);
  Bytes tooLong{5, 31, 0};
  tooLong.resize(31, 7);
  tooLong = withChecksum(tooLong);
  Bytes shortOfLength = answerFrame(5, 0, {1, 2, 3, 4, 5, 6});  // Length 9
  shortOfLength.pop_back();
  struct Case {
    const char* what;
    Bytes answer;
    bool accepted;
  } cases[] = {
      {"6 bytes, Length 5", Presence5Answer, true},
      {"6 bytes, Length 6", lengthSix, false},
      {"5 bytes", withChecksum({5, 4, 0, 1}), false},
      {"no answer", {}, false},
      {"wrong checksum", badChecksum, false},
      {"31 bytes", longest, true},
      {"32 bytes", tooLong, false},
      {"fewer bytes than Length + 1", shortOfLength, false},
      {"keyed address 133", answerFrame(133, 0, {0x21, 0x64}), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bus->Answer = {1, 2, 3};
    fakes.line->queueAnswer(c.answer);
    EXPECT_EQ(Transact(*bus, Presence5, 1), c.accepted);
    if (c.accepted) {
      Bytes stored = c.answer;
      stored[0] &= 0x7F;
      EXPECT_EQ(bus->Answer, stored);
      EXPECT_EQ(bus->AnswerFrame.toBytes(), stored);
    } else {
      EXPECT_TRUE(bus->Answer.empty());
      EXPECT_EQ(bus->AnswerFrame.count, 0);
    }
  }
}

TEST_F(SerialExchange, EventAnswersAreAcknowledgedAfterThePause) {
  for (uint8_t code : {4, 12, 14}) {
    SCOPED_TRACE(int{code});
    openFirst();
    const Bytes event = answerFrame(5, code, {9, 8, 7});
    fakes.line->queueAnswer(event);
    ASSERT_TRUE(Transact(*bus, {5, 6, 0, 13, 0, 0}, 1));

    calls = fakes.line->calls();
    auto read = std::find_if(calls.begin(), calls.end(),
                             [](const SerialCall& c) { return c.kind == SerialCall::Kind::Read; });
    Texts afterAnswer;
    for (auto it = read + 2; it != calls.end(); ++it) afterAnswer.push_back(it->text());
    EXPECT_EQ(afterAnswer,
              (Texts{"dtr 0", "rts 1", "getTimeouts", "timeouts 0,0,30,0,0", "dtr 0", "rts 1",
                     "purge TxClear", "purge TxAbort", "purge RxClear", "purge RxAbort",
                     "write 05 06 00 03 00 01", "write CD", "purge RxClear", "purge RxAbort",
                     "dtr 1", "rts 0", "dtr 0", "rts 1"}))
        << "the acknowledgement waits for no answer";
    const int64_t lineDriven = (read + 3)->atMicros;
    EXPECT_GE((read + 5)->atMicros, lineDriven + 4000) << "after the end-of-exchange pause";

    EXPECT_EQ(bus->AnswerFrame.toBytes(), event) << "still the event, not the acknowledgement";
    EXPECT_EQ(bus->Answer, event);
  }

  openFirst();
  fakes.line->queueAnswer(answerFrame(5, 3, {9, 8, 7}));
  ASSERT_TRUE(Transact(*bus, {5, 6, 0, 13, 0, 0}, 1));
  EXPECT_EQ(fakes.line->writtenBytes(), withChecksum({5, 6, 0, 13, 0, 0})) << "code 3 is no event";
}

TEST_F(SerialExchange, AddressZeroIsSentButNotAnswered) {
  openFirst();
  ASSERT_TRUE(Transact(*bus, {0, 6, 0, 1, 0, 0}, 1));
  EXPECT_EQ(fakes.line->calls().back().kind, SerialCall::Kind::Write) << "no turnaround, no read";
  EXPECT_EQ(fakes.line->writtenBytes(), withChecksum({0, 6, 0, 1, 0, 0}));
  EXPECT_EQ(bus->Answer, Bytes(6, 0));
  EXPECT_EQ(bus->AnswerFrame.count, 0);
  EXPECT_TRUE(fakes.clock->sleepsMs().empty()) << "no end-of-exchange pause";
  EXPECT_FALSE(fakes.line->dtr());
  EXPECT_TRUE(fakes.line->rts()) << "the line is left driven";
}

TEST_F(SerialExchange, ModeZeroSendsWithoutReading) {
  openFirst();
  bus->Answer = {1, 2, 3};
  bus->AnswerFrame.count = 3;
  ASSERT_TRUE(Transact(*bus, Presence5, 0));
  EXPECT_EQ(bus->Answer, (Bytes{1, 2, 3}));
  EXPECT_EQ(bus->AnswerFrame.count, 0);
  Texts texts = fakes.line->callTexts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "read 6 -> 0"), 0);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "errors 0"), 0);
  EXPECT_EQ(Texts(texts.end() - 2, texts.end()), (Texts{"dtr 0", "rts 1"}));
  EXPECT_EQ(fakes.clock->sleepsMs(), (std::vector<uint32_t>{4}));
}

TEST_F(SerialExchange, RequestLength) {
  EXPECT_FALSE(Transact(*bus, {5, 6, 0, 1}, 1));
  EXPECT_TRUE(fakes.line->isOpen()) << "the port is opened before the length is looked at";
  EXPECT_TRUE(fakes.line->writtenBytes().empty());

  fakes.line->queueAnswer(Presence5Answer);
  EXPECT_TRUE(Transact(*bus, {5, 6, 0, 1, 0}, 1));
  EXPECT_EQ(fakes.line->writtenBytes(), withChecksum({5, 6, 0, 1, 0}));

  fakes.line->clearCalls();
  Bytes tooLong(255, 0);
  tooLong[0] = 5;
  EXPECT_FALSE(Transact(*bus, tooLong, 1)) << "its checksum would not fit a frame";
  EXPECT_TRUE(fakes.line->writtenBytes().empty());
}

TEST_F(SerialExchange, LineErrorReopensThePortAndReadsOn) {
  openFirst();
  fakes.line->queueLineErrors(0x02);
  fakes.line->queueAnswer(Presence5Answer);
  ASSERT_TRUE(Transact(*bus, Presence5, 1));
  Texts texts = fakes.line->callTexts();
  auto errors = std::find(texts.begin(), texts.end(), "errors 2");
  ASSERT_NE(errors, texts.end());
  EXPECT_EQ(
      Texts(errors, texts.end()),
      (Texts{"errors 2", "close", "open COM1", "getState", "setState 9600,8,0,0", "queues 300,0",
             "getTimeouts", "timeouts 0,0,600,0,0", "read 6 -> 6", "dtr 0", "rts 1"}));
  EXPECT_EQ(bus->LineErrorCount, 1u);
  EXPECT_EQ(first(SerialCall::Kind::Read).timeouts.readTotalConstantMs, 600u)
      << "the read runs with the time-outs of the reopened port";

  // A port that does not come back fails the exchange; the next one opens it.
  fakes.line->queueLineErrors(0x08);
  fakes.line->failOpens(1);
  EXPECT_FALSE(Transact(*bus, Presence5, 1));
  EXPECT_EQ(bus->LineErrorCount, 2u);
  fakes.line->queueAnswer(Presence5Answer);
  EXPECT_TRUE(Transact(*bus, Presence5, 1));
}

TEST_F(SerialExchange, PortThatCannotBeOpened) {
  fakes.line->failOpens(1);
  EXPECT_FALSE(Transact(*bus, Presence5, 1));
  EXPECT_EQ(fakes.line->callTexts(), (Texts{"open COM1 failed"}));
  fakes.line->queueAnswer(Presence5Answer);
  EXPECT_TRUE(Transact(*bus, Presence5, 1)) << "the next exchange tries again";
}

// A device with key word 0x5A answers every keyed request in keyed form.
TEST_F(SerialExchange, KeyedExchange) {
  constexpr uint8_t keyWord = 0x5A;
  bus->KeyedMode = true;
  bus->KeyWord[5] = keyWord;
  fakes.line->setResponder([](const Bytes& request) -> std::optional<Bytes> {
    if (request[0] != 133) return std::nullopt;
    const uint8_t key = keyWord ^ request[2];
    Bytes answer{133, 6, 0, 0x21, 0x64, 0x07};
    for (size_t i = 2; i < answer.size(); ++i) answer[i] ^= key;
    answer.push_back(FrameChecksum(answer));
    return answer;
  });
  for (int attempt = 0; attempt < 3; ++attempt) {
    fakes.line->clearCalls();
    const Bytes prepared = PrepareRequest(*bus, {5, 6, 0, 0x1B, 3, 0});
    ASSERT_EQ(prepared[0], 133);
    ASSERT_TRUE(Transact(*bus, prepared, 1));
    const uint8_t key = keyWord ^ prepared[2];
    EXPECT_EQ(fakes.line->writtenBytes(),
              withChecksum({133, 6, prepared[2], static_cast<uint8_t>(0x1B ^ key),
                            static_cast<uint8_t>(3 ^ key), key}));
    EXPECT_EQ(Bytes(bus->Answer.begin(), bus->Answer.end() - 1),
              (Bytes{5, 6, 0, 0x21, 0x64, 0x07}));
  }

  bus->KeyWord[5] = NoKey;
  fakes.line->clearCalls();
  EXPECT_FALSE(Transact(*bus, {133, 6, 17, 0x1B, 3, 0}, 1)) << "no key to scramble with";
  EXPECT_TRUE(fakes.line->writtenBytes().empty());
}

TEST_F(SerialExchange, ChecksumTableIsChosenByTheLineSetting) {
  // The presence request to 63 and an answer from it both pass through entry 0xF9.
  const Bytes presence63{63, 6, 0, 1, 0, 0};
  for (CrcTable table : {CrcTable::Carried, CrcTable::Published}) {
    SCOPED_TRACE(table == CrcTable::Published ? "published" : "carried");
    setSetting("PublishedCrcTable", RegValue::ofDword(table == CrcTable::Published ? 1 : 0));
    openFirst();
    fakes.line->queueAnswer(withChecksum({63, 5, 0, 23, 0}, table));
    EXPECT_TRUE(Transact(*bus, presence63, 1));
    EXPECT_EQ(fakes.line->writtenBytes().back(), table == CrcTable::Published ? 0xFE : 0xC8);
    ASSERT_NE(FrameChecksum(Bytes{63, 5, 0, 23, 0}, CrcTable::Carried),
              FrameChecksum(Bytes{63, 5, 0, 23, 0}, CrcTable::Published));

    fakes.line->queueAnswer(withChecksum(
        {63, 5, 0, 23, 0}, table == CrcTable::Published ? CrcTable::Carried : CrcTable::Published));
    EXPECT_FALSE(Transact(*bus, presence63, 1)) << "the checker uses the writer's table";
  }
}

// Plays a device that answers every request text with the same answer text.
class AnsweringLink : public SimulatorLink {
 public:
  std::unique_ptr<SimulatorObject> create(SimulatorSide) override {
    struct Object : SimulatorObject {
      explicit Object(std::vector<std::string>& texts) : texts_(texts) {}
      std::string call(const std::string& text) override {
        texts_.push_back(text);
        return frameToText(Presence5Answer);
      }
      std::vector<std::string>& texts_;
    };
    return std::make_unique<Object>(texts);
  }
  std::vector<std::string> texts;
};

TEST_F(SerialExchange, SimulatorModeLeavesThePortAlone) {
  auto link = std::make_shared<AnsweringLink>();
  fakes.simulatorLink = link;
  remake();
  bus->Simulator.enabled = true;
  EXPECT_TRUE(Transact(*bus, Presence5, 0));
  EXPECT_EQ(bus->Answer, Presence5Answer) << "the simulator always awaits an answer";
  EXPECT_EQ(link->texts, (Texts{"5 6 0 1 0 0 220"}));
  EXPECT_TRUE(fakes.line->calls().empty());
}

}  // namespace
