// The exchange over the serial port, against the scripted fake line.

#include <algorithm>
#include <string>
#include <vector>

#include "bus_fixture.h"

using namespace loopmon;
using namespace loopmon::testing;

namespace {

const std::string PortOpening =
    "open COM1|getState|setState 9600,8,0,0|queues 300,0|getTimeouts|timeouts 0,0,600,0,0";
// The send of a timed exchange of the presence request to 5; the turnaround follows.
const std::string TimedSend =
    "getTimeouts|timeouts 0,0,30,0,0|dtr 0|rts 1|purge TxClear|purge TxAbort|purge RxClear|"
    "purge RxAbort|write 05 06 00 01 00 00|write DC|purge RxClear|purge RxAbort|dtr 1|rts 0";
const std::string ReadAndRelease = "|errors 0|read 6 -> 6|dtr 0|rts 1";

class SerialExchange : public BusTest {
 protected:
  // Opens the port up front so that the calls seen are the exchange's own.
  bool exchange(const Bytes& answer, const Bytes& request = Presence5, uint8_t mode = 1) {
    EXPECT_TRUE(OpenPort(*bus));
    fakes.line->clearCalls();
    if (!answer.empty()) fakes.line->queueAnswer(answer);
    return Transact(*bus, request, mode);
  }

  void setSetting(const char* name, RegValue value) {
    fakes.registry->set(LineSettingsKey, name, value);
    remake();
  }

  // The call `skip` places after the first one whose text starts with `prefix`.
  SerialCall first(const std::string& prefix, size_t skip = 0) {
    const auto calls = fakes.line->calls();
    auto it = std::find_if(calls.begin(), calls.end(),
                           [&](const SerialCall& c) { return c.text.rfind(prefix, 0) == 0; });
    if (calls.end() - it <= static_cast<ptrdiff_t>(skip)) {
      ADD_FAILURE() << "no call " << prefix;
      return {};
    }
    return it[static_cast<ptrdiff_t>(skip)];
  }
};

TEST_F(SerialExchange, TimedSendCallOrder) {
  fakes.line->queueAnswer(Presence5Answer);
  ASSERT_TRUE(Transact(*bus, Presence5, 1));
  EXPECT_EQ(callLog(), PortOpening + "|" + TimedSend + ReadAndRelease);
  EXPECT_EQ(bus->Answer, Presence5Answer);
  EXPECT_EQ(bus->AnswerFrame.toBytes(), Presence5Answer);
  EXPECT_EQ(fakes.clock->sleepsMs(), (std::vector<uint32_t>{4})) << "StartTimeout at the end";
  EXPECT_FALSE(fakes.line->dtr());
  EXPECT_TRUE(fakes.line->rts());
}

TEST_F(SerialExchange, TimedSendTurnsRoundTailAfterTheLastStopBit) {
  int timerPeriodWhileSending = 0;
  fakes.line->setWriteHook(
      [&](const Bytes&) { timerPeriodWhileSending = fakes.clock->timerPeriodDepth(); });
  for (uint32_t tail : {400u, 0u, 2500u}) {
    SCOPED_TRACE(tail);
    setSetting("TailInUS", RegValue::ofDword(tail));
    ASSERT_TRUE(exchange(Presence5Answer));
    // The counter is read just before the first write, which the fake stamps
    // one counter read (1 us) later.
    const int64_t due = first("write").atMicros - 1 + 7 * 1041 + tail;
    EXPECT_GE(first("dtr 1").atMicros, due);
    EXPECT_LT(first("dtr 1").atMicros, due + 100);
    EXPECT_GE(first("write DC", 1).atMicros, due) << "nothing of the line's echo is kept";
  }
  EXPECT_FALSE(fakes.clock->sleepsMicros().empty()) << "the wait sleeps before it spins";
  EXPECT_EQ(timerPeriodWhileSending, 1);
  EXPECT_EQ(fakes.clock->timerPeriodDepth(), 0) << "and only while the exchange runs";
}

TEST_F(SerialExchange, PaddedSendWithoutCounterOrInUsartMode) {
  std::string padded = TimedSend + ReadAndRelease;
  padded.replace(padded.find("00|write DC"), 11, "00 DC FF|write FF|drain");
  bus->CounterFrequency = 0;  // no high-resolution counter
  ASSERT_TRUE(exchange(Presence5Answer));
  EXPECT_EQ(callLog(), padded);

  setSetting("USARTMode", RegValue::ofDword(0));
  ASSERT_TRUE(exchange(Presence5Answer));
  EXPECT_EQ(callLog(), padded);
  EXPECT_TRUE(fakes.clock->sleepsMicros().empty()) << "no wait after the padded writes";
}

TEST_F(SerialExchange, SmartPiLeavesTheLinesAndTheReceiveBufferAlone) {
  fakes.registry->set(LineSettingsKey, "SmartPI", RegValue::ofString(""));
  setSetting("USARTMode", RegValue::ofString(""));
  ASSERT_TRUE(exchange(Presence5Answer));
  EXPECT_EQ(callLog(),
            "getTimeouts|timeouts 0,0,30,0,0|purge TxClear|purge TxAbort|purge RxClear|"
            "purge RxAbort|write 05 06 00 01 00 00 DC|errors 0|read 6 -> 6");

  // With a counter and without USARTMode the send is timed, still without line changes.
  fakes.registry->remove(LineSettingsKey, "USARTMode");
  remake();
  ASSERT_TRUE(exchange(Presence5Answer));
  EXPECT_EQ(callLog().find("dtr"), std::string::npos);
  EXPECT_EQ(callLog().find("rts"), std::string::npos);
  EXPECT_EQ(fakes.line->writtenBytes(), withChecksum(Presence5)) << "no padding";
  // Nothing is turned once the frame has left: the read starts at once, its
  // time-out lengthened by the wire time still to go (7 bytes, 7.3 ms).
  const std::string log = callLog();
  EXPECT_NE(log.find("write 05 06 00 01 00 00|write DC|getTimeouts|timeouts 0,0,38,0,0|errors 0"),
            std::string::npos)
      << log;
  EXPECT_LT(first("errors").atMicros - first("write").atMicros, 1041);

  // A broadcast has no answer to wait for: its wire time is slept through,
  // so that the next exchange's purge does not cut it off.
  ASSERT_TRUE(exchange({}, {0, 6, 0, 1, 0, 0}));
  EXPECT_EQ(callLog().find("timeouts 0,0,38"), std::string::npos);
  ASSERT_FALSE(fakes.clock->sleepsMicros().empty());
  EXPECT_GE(fakes.clock->sleepsMicros().back() + 10, 7 * 1041);
}

TEST_F(SerialExchange, RemoteLineIsTurnedRoundByTheServerAndWaitsLonger) {
  fakes.line->setRemote(true);
  bus->CounterFrequency = 0;  // would otherwise pad
  ASSERT_TRUE(exchange(Presence5Answer));
  EXPECT_EQ(callLog(),
            "getTimeouts|timeouts 0,0,80,0,0|purge TxClear|purge TxAbort|purge RxClear|"
            "purge RxAbort|write 05 06 00 01 00 00 DC|errors 0|read 6 -> 6");

  setSetting("NetworkAllowance", RegValue::ofDword(200));
  setSetting("IntervalTimeout", RegValue::ofDword(5));
  fakes.line->clearCalls();
  ASSERT_TRUE(OpenPort(*bus));
  EXPECT_EQ(first("timeouts").text, "timeouts 0,0,800,0,0") << "after opening";
  ASSERT_TRUE(exchange(Presence5Answer));
  EXPECT_EQ(first("timeouts").text, "timeouts 205,0,230,0,0");
}

TEST_F(SerialExchange, KernelRs485ModeTurnsTheLineWhereTheDriverTakesIt) {
  for (const bool driverTakes : {true, false}) {
    SCOPED_TRACE(driverTakes);
    fakes.line->offerKernelRs485(driverTakes);
    setSetting("KernelRS485", RegValue::ofDword(1));
    ASSERT_TRUE(exchange(Presence5Answer));
    EXPECT_EQ(callLog().find("dtr") == std::string::npos, driverTakes) << callLog();
    EXPECT_EQ(callLog().find("rts") == std::string::npos, driverTakes) << callLog();
    EXPECT_EQ(bus->KernelTurnsLine, driverTakes);
  }
}

TEST_F(SerialExchange, ReadTimeoutsFollowTheCommandClass) {
  auto timeoutsFor = [&](uint8_t command) {
    exchange(answerFrame(5, 0, {0, 0}), {5, 6, 0, command, 0, 0});
    return first("timeouts").text;
  };
  EXPECT_EQ(timeoutsFor(1), "timeouts 0,0,30,0,0");
  EXPECT_EQ(timeoutsFor(13), "timeouts 0,0,600,0,0");

  const char* names[] = {"IntervalTimeout",    "TimeoutMultiplier",    "TimeoutConstant",
                         "CmdIntervalTimeout", "CmdTimeoutMultiplier", "CmdTimeoutConstant"};
  for (uint32_t i = 0; i < 6; ++i) {
    fakes.registry->set(LineSettingsKey, names[i], RegValue::ofDword(i + 1));
  }
  remake();
  for (uint8_t command : {1, 3}) EXPECT_EQ(timeoutsFor(command), "timeouts 1,2,3,0,0");
  for (uint8_t command : {0, 2, 13, 0x1B}) EXPECT_EQ(timeoutsFor(command), "timeouts 4,5,6,0,0");
}

TEST_F(SerialExchange, AnswerChecks) {
  // `count` bytes whose Length byte says `length`, with a valid checksum.
  auto frame = [](size_t count, uint8_t length) {
    Bytes bytes{5, length, 0};
    bytes.resize(count - 1, 7);
    return withChecksum(bytes);
  };
  Bytes badChecksum = Presence5Answer;
  badChecksum.back() ^= 1;
  const struct {
    const char* what;
    Bytes answer;
    bool accepted;
  } cases[] = {
      {"6 bytes, Length 5", Presence5Answer, true},
      {"6 bytes, Length 6", frame(6, 6), false},
      {"5 bytes", frame(5, 4), false},
      {"no answer", {}, false},
      {"wrong checksum", badChecksum, false},
      {"31 bytes", frame(31, 30), true},
      {"32 bytes", frame(32, 31), false},
      {"fewer bytes than Length + 1", frame(9, 9), false},
      {"keyed address 133", answerFrame(133, 0, {0x21, 0x64}), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    bus->Answer = {1, 2, 3};
    EXPECT_EQ(exchange(c.answer), c.accepted);
    Bytes stored = c.accepted ? c.answer : Bytes{};
    if (c.accepted) stored[0] &= 0x7F;
    EXPECT_EQ(bus->Answer, stored);
    EXPECT_EQ(bus->AnswerFrame.toBytes(), stored);
  }
}

TEST_F(SerialExchange, EventAnswersAreAcknowledgedAfterThePause) {
  const Bytes status5{5, 6, 0, 13, 0, 0};
  std::string acknowledgement = TimedSend + "|dtr 0|rts 1";
  acknowledgement.replace(acknowledgement.find("01 00 00|write DC"), 17, "03 00 01|write CD");
  for (uint8_t code : {4, 12, 14}) {
    SCOPED_TRACE(int{code});
    const Bytes event = answerFrame(5, code, {9, 8, 7});
    ASSERT_TRUE(exchange(event, status5));
    const std::string log = callLog();
    EXPECT_EQ(log.substr(log.find("read 1 -> 1")), "read 1 -> 1|dtr 0|rts 1|" + acknowledgement)
        << "the acknowledgement waits for no answer";
    EXPECT_GE(first("read 1", 4).atMicros, first("read 1", 2).atMicros + 4000)
        << "after the end-of-exchange pause";
    EXPECT_EQ(bus->AnswerFrame.toBytes(), event) << "still the event, not the acknowledgement";
    EXPECT_EQ(bus->Answer, event);
  }
  ASSERT_TRUE(exchange(answerFrame(5, 3, {9, 8, 7}), status5));
  EXPECT_EQ(fakes.line->writtenBytes(), withChecksum(status5)) << "code 3 is no event";
}

// A device with key word 0x5A answers a keyed request in keyed form.
TEST_F(SerialExchange, KeyedExchange) {
  bus->KeyedMode = true;
  bus->KeyWord[5] = 0x5A;
  const Bytes prepared = PrepareRequest(*bus, {5, 6, 0, 0x1B, 3, 0});
  ASSERT_EQ(prepared[0], 133);
  const uint8_t key = 0x5A ^ prepared[2];
  Bytes answer{133, 6, 0, 0x21, 0x64, 0x07};
  for (size_t i = 2; i < answer.size(); ++i) answer[i] ^= key;
  ASSERT_TRUE(exchange(withChecksum(answer), prepared));
  EXPECT_EQ(fakes.line->writtenBytes(),
            withChecksum({133, 6, prepared[2], uint8_t(0x1B ^ key), uint8_t(3 ^ key), key}));
  EXPECT_EQ(Bytes(bus->Answer.begin(), bus->Answer.end() - 1), (Bytes{5, 6, 0, 0x21, 0x64, 0x07}));
}

TEST_F(SerialExchange, ChecksumTableFollowsTheLineSetting) {
  // The presence request to 63 and its answer both pass through entry 0xF9.
  const Bytes presence63{63, 6, 0, 1, 0, 0}, answer63{63, 5, 0, 23, 0};
  ASSERT_NE(withChecksum(answer63, CrcTable::Carried), withChecksum(answer63, CrcTable::Published));
  for (bool published : {false, true}) {
    const CrcTable table = published ? CrcTable::Published : CrcTable::Carried;
    setSetting("PublishedCrcTable", RegValue::ofDword(published));
    EXPECT_TRUE(exchange(withChecksum(answer63, table), presence63));
    EXPECT_EQ(fakes.line->writtenBytes(), withChecksum(presence63, table));
    const CrcTable other = published ? CrcTable::Carried : CrcTable::Published;
    EXPECT_FALSE(exchange(withChecksum(answer63, other), presence63))
        << "the checker uses the writer's table";
  }
}

TEST_F(SerialExchange, AddressZeroIsSentButNotAnswered) {
  ASSERT_TRUE(exchange({}, {0, 6, 0, 1, 0, 0}));
  EXPECT_EQ(fakes.line->callTexts().back().rfind("write", 0), 0u) << "no turnaround, no read";
  EXPECT_EQ(fakes.line->writtenBytes(), withChecksum({0, 6, 0, 1, 0, 0}));
  EXPECT_EQ(bus->Answer, Bytes(6, 0));
  EXPECT_EQ(bus->AnswerFrame.count, 0);
  EXPECT_TRUE(fakes.clock->sleepsMs().empty()) << "no end-of-exchange pause";
  EXPECT_FALSE(fakes.line->dtr());
  EXPECT_TRUE(fakes.line->rts()) << "the line is left driven";
}

TEST_F(SerialExchange, ModeZeroSendsWithoutReading) {
  bus->Answer = {1, 2, 3};
  bus->AnswerFrame.count = 3;
  ASSERT_TRUE(exchange({}, Presence5, 0));
  EXPECT_EQ(bus->Answer, (Bytes{1, 2, 3}));
  EXPECT_EQ(bus->AnswerFrame.count, 0);
  EXPECT_EQ(callLog(), TimedSend + "|dtr 0|rts 1");
  EXPECT_EQ(fakes.clock->sleepsMs(), (std::vector<uint32_t>{4}));
}

TEST_F(SerialExchange, RequestsThatAreNotSent) {
  EXPECT_FALSE(Transact(*bus, {5, 6, 0, 1}, 1));
  EXPECT_TRUE(fakes.line->isOpen()) << "the port is opened before the length is looked at";
  Bytes tooLong(255, 0);
  tooLong[0] = 5;
  EXPECT_FALSE(Transact(*bus, tooLong, 1)) << "its checksum would not fit a frame";
  bus->KeyedMode = true;
  bus->KeyWord[5] = NoKey;
  EXPECT_FALSE(Transact(*bus, {133, 6, 17, 0x1B, 3, 0}, 1)) << "no key to scramble with";
  EXPECT_TRUE(fakes.line->writtenBytes().empty());

  EXPECT_TRUE(exchange(Presence5Answer, {5, 6, 0, 1, 0})) << "5 bytes are enough";
  EXPECT_EQ(fakes.line->writtenBytes(), withChecksum({5, 6, 0, 1, 0}));
}

TEST_F(SerialExchange, LineErrorReopensThePortAndReadsOn) {
  fakes.line->queueLineErrors(0x02);
  ASSERT_TRUE(exchange(Presence5Answer));
  const std::string log = callLog();
  EXPECT_EQ(log.substr(log.find("errors")),
            "errors 2|close|" + PortOpening + "|read 6 -> 6|dtr 0|rts 1");
  EXPECT_EQ(bus->LineErrorCount, 1u);
  EXPECT_EQ(first("read").timeouts.readTotalConstantMs, 600u)
      << "the read runs with the time-outs of the reopened port";

  // A port that does not come back (an unplugged converter) fails the
  // exchange and is reported lost once; the next exchange tries to open it.
  fakes.line->queueLineErrors(LineError::Lost);
  fakes.line->failOpens(2);
  EXPECT_FALSE(Transact(*bus, Presence5, 1));
  EXPECT_EQ(bus->LineErrorCount, 2u);
  EXPECT_THROW(
      try { ReportPortLoss(*bus); } catch (const PortLostError& error) {
        EXPECT_STREQ(error.what(),
                     "COM1: the port is lost (is the converter unplugged?); the next request "
                     "tries to open it again");
        throw;
      },
      PortLostError);
  fakes.line->clearCalls();
  EXPECT_FALSE(Transact(*bus, Presence5, 1));
  EXPECT_EQ(callLog(), "open COM1 failed");
  EXPECT_NO_THROW(ReportPortLoss(*bus)) << "once per loss";
  fakes.line->queueAnswer(Presence5Answer);
  EXPECT_TRUE(Transact(*bus, Presence5, 1));
  EXPECT_FALSE(bus->PortLost);
}

TEST_F(SerialExchange, PortThatCannotBeOpened) {
  fakes.line->failOpens(1);
  EXPECT_FALSE(Transact(*bus, Presence5, 1));
  EXPECT_EQ(callLog(), "open COM1 failed");
  fakes.line->queueAnswer(Presence5Answer);
  EXPECT_TRUE(Transact(*bus, Presence5, 1)) << "the next exchange tries again";
}

}  // namespace
