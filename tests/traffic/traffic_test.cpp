// The bus trace: writers that never wait and a reader that gets whole records
// or counts them lost; the engine's record of each attempt on the scripted
// line, which leaves the exchange as it was; what frames mean; what the
// records add up to per device.

#include <atomic>
#include <thread>

#include "bus_fixture.h"
#include "traffic/frame_meaning.h"
#include "traffic/trace_pump.h"
#include "traffic/trace_text.h"
#include "traffic/traffic_counters.h"

using namespace loopmon;
using namespace loopmon::testing;

namespace {

// A record whose every field follows from its number, so a torn copy shows.
TraceRecord numbered(uint64_t number) {
  TraceRecord record;
  record.exchange = number;
  record.wallMicros = static_cast<int64_t>(number) * 3;
  record.requestSize = 7;
  record.request.fill(static_cast<uint8_t>(number));
  record.answerSize = 256;
  record.answer.fill(static_cast<uint8_t>(number >> 8));
  return record;
}

bool whole(const TraceRecord& r) {
  return r == numbered(r.exchange);
}

TEST(TraceRing, ALaggingReaderGetsTheNewestAndCountsTheRest) {
  const auto ring = std::make_shared<TraceRing>(3);  // rounded up to 4
  for (uint64_t n = 1; n <= 10; ++n) ring->push(numbered(n));
  std::vector<TraceRecord> read;
  EXPECT_EQ(ring->take(read), 6u);
  ASSERT_EQ(read.size(), 4u);
  EXPECT_EQ(read.front().exchange, 7u);
  EXPECT_EQ(read.back().exchange, 10u);
  ring->push(numbered(11));
  read.clear();
  EXPECT_EQ(ring->take(read), 0u);
  EXPECT_EQ(read.size(), 1u);
  EXPECT_EQ(ring->dropped(), 6u);

  // A pump hands the loss on with the batch after it, here in its last drain.
  for (uint64_t n = 12; n <= 20; ++n) ring->push(numbered(n));
  std::vector<std::pair<size_t, uint64_t>> handed;
  TracePump(ring, std::chrono::hours(1),
            [&](const std::vector<TraceRecord>& batch, uint64_t dropped) {
              handed.emplace_back(batch.size(), dropped);
            });
  EXPECT_EQ(handed, (std::vector<std::pair<size_t, uint64_t>>{{4, 5}}));
}

TEST(TraceRing, WritersOnTwoThreadsAndAReaderOnAThird) {
  TraceRing ring(64);
  constexpr uint64_t PerWriter = 20'000;
  std::atomic<int> writing{2};
  std::vector<TraceRecord> read;
  uint64_t lost = 0;
  std::thread reader([&] {
    while (writing > 0) lost += ring.take(read);
    lost += ring.take(read);
  });
  std::vector<std::thread> writers;
  for (uint64_t first : {uint64_t{1}, uint64_t{1'000'000}}) {
    writers.emplace_back([&, first] {
      for (uint64_t n = first; n < first + PerWriter; ++n) ring.push(numbered(n));
      --writing;
    });
  }
  for (auto& writer : writers) writer.join();
  reader.join();
  EXPECT_EQ(read.size() + lost, 2 * PerWriter) << "every record read or counted";
  uint64_t last[2] = {0, 0};
  for (const TraceRecord& r : read) {
    ASSERT_TRUE(whole(r)) << r.exchange;
    uint64_t& previous = last[r.exchange >= 1'000'000];
    EXPECT_GT(r.exchange, previous) << "each writer's records in its order";
    previous = r.exchange;
  }
}

class AttemptRecords : public BusTest {
 protected:
  std::vector<TraceRecord> records(TraceRing& ring) {
    std::vector<TraceRecord> read;
    ring.take(read);
    return read;
  }
};

TEST_F(AttemptRecords, EachAnswerJudgedAsTheEngineSawIt) {
  const auto ring = bus->Trace.start();
  ASSERT_TRUE(OpenPort(*bus));
  const Bytes sent = withChecksum(Presence5);
  Bytes badChecksum = Presence5Answer;
  badChecksum.back() ^= 1;
  Bytes echoTail{0x00, 0x00, 0xDC};
  echoTail.insert(echoTail.end(), Presence5Answer.begin(), Presence5Answer.end());
  struct Case {
    Bytes answer;
    TraceOutcome outcome;
    bool accepted;
    size_t kept;  // bytes the engine read
  };
  const Case cases[] = {
      {Presence5Answer, TraceOutcome::Answer, true, 6},
      {{}, TraceOutcome::Silence, false, 0},
      {{5, 5, 0}, TraceOutcome::Short, false, 3},
      {withChecksum({5, 4, 0, 0x21, 0x64}), TraceOutcome::BadLength, false, 6},
      {withChecksum({5, 9, 0, 0x21, 0x64}), TraceOutcome::Short, false, 6},
      {badChecksum, TraceOutcome::BadChecksum, false, 6},
      // Its Length and checksum hold: before the trace, the engine took its
      // own request for the device's answer.
      {sent, TraceOutcome::Echo, false, 7},
      {echoTail, TraceOutcome::Echo, false, 6},
      {answerFrame(6, 0, {0x21, 0x64}), TraceOutcome::OtherAddress, false, 6},
  };
  for (const auto& [answer, outcome, accepted, kept] : cases) {
    SCOPED_TRACE(frameHex(answer));
    if (!answer.empty()) fakes.line->queueAnswer(answer);
    EXPECT_EQ(Transact(*bus, Presence5, 1), accepted);
    const auto read = records(*ring);
    ASSERT_EQ(read.size(), 1u);
    const TraceRecord& r = read[0];
    EXPECT_EQ(r.outcome, outcome);
    EXPECT_EQ(r.accepted, accepted);
    EXPECT_EQ(r.requestBytes(), sent);
    EXPECT_EQ(r.answerBytes(), Bytes(answer.begin(), answer.begin() + kept));
    EXPECT_EQ(r.route, TraceRoute::Serial);
    EXPECT_EQ(r.requestEndMicros - r.sentMicros, 7 * 1041) << "the request's wire time";
    EXPECT_GE(r.readEndMicros, r.sentMicros);
    EXPECT_EQ(r.lastByteMicros >= 0, kept > 0);
  }
}

// The trace reads no clock of the session's, so the fake time of every call
// shows the exchanges unchanged; a ring too small, never read, holds nothing up.
TEST_F(AttemptRecords, AnUnreadRingLeavesTheExchangesAsTheyWere) {
  const auto exchanges = [this] {
    EXPECT_TRUE(OpenPort(*bus));
    fakes.line->clearCalls();
    for (int i = 0; i < 3; ++i) {
      fakes.line->queueAnswer(answerFrame(5, 4, {3, 2}));  // an event, acknowledged
      Transact(*bus, Presence5, 1);
      Transact(*bus, {5, 6, 0, 13, 0, 0}, 1);  // silence
    }
    std::vector<std::pair<std::string, int64_t>> calls;
    for (const SerialCall& call : fakes.line->calls())
      calls.emplace_back(call.text, call.atMicros - fakes.line->calls().front().atMicros);
    return calls;
  };
  const auto untraced = exchanges();
  remake();
  const auto ring = bus->Trace.start(4);
  EXPECT_EQ(exchanges(), untraced);

  std::vector<TraceRecord> read;
  EXPECT_EQ(ring->take(read), 5u) << "nine attempts, four kept";
  ASSERT_EQ(read.size(), 4u);
  const TraceOutcome newest[] = {TraceOutcome::Silence, TraceOutcome::Answer, TraceOutcome::Sent,
                                 TraceOutcome::Silence};
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(read[i].outcome, newest[i]) << i;
  EXPECT_EQ(read[2].requestBytes(), (Bytes{5, 6, 0, 3, 0, 1, 0xCD})) << "after its event";
}

TEST(FrameMeaning, QuestionsAndNews) {
  const std::pair<Bytes, std::string> requests[] = {
      {{5, 6, 0, 1, 0, 0, 0xDC}, "presence?"},
      {{5, 6, 0, 3, 0, 1, 0xCD}, "acknowledgement"},
      {{5, 6, 0, 13, 0, 0}, "description?"},
      {{5, 6, 0, 0x19, 7, 0}, "state of loop 7?"},
      {{5, 6, 0, 0x1B, 12, 0}, "ADC of loop 12?"},
      {{127, 6, 0, 0x39, 3, 4}, "reading of line device 3?"},
      {{5, 5, 0, 0x42, 9}, "command 0x42"},
  };
  for (const auto& [frame, meaning] : requests)
    EXPECT_EQ(frameMeaning(frame, FrameRole::Request), meaning) << frameHex(frame);
  const std::pair<Bytes, std::string> answers[] = {
      {{5, 5, 2, 0, 0}, "present"},
      {{5, 5, 0, 1, 105}, "type 1 Mivra-Q, version 1.05"},
      {{5, 5, 0x1A, 3, 24}, "loop 3: state 24 на охране"},
      {{5, 5, 0x1C, 3, 160}, "loop 3: ADC 160"},
      {{20, 5, 4, 3, 2}, "event 4: 03 02"},
      {{5, 5, 10, 13, 0}, "refused command 0x0D"},
      {{127, 5, 0x3A, 1, 5}, "line device: class 1, kind 5"},
      {{5, 6, 0, 1, 0, 0, 0xDC}, ""},  // an echo has a request's Length
  };
  for (const auto& [frame, meaning] : answers)
    EXPECT_EQ(frameMeaning(frame, FrameRole::Answer), meaning) << frameHex(frame);
  // The window's words: the program's Russian with the locale's separator.
  const TraceWording window{true, ','};
  EXPECT_EQ(frameMeaning({5, 6, 0, 0x1B, 12, 0}, FrameRole::Request, window), "АЦП ШС 12?");
  EXPECT_EQ(frameMeaning({5, 5, 0, 1, 105}, FrameRole::Answer, window),
            "тип 1 Mivra-Q, версия 1,05");
  EXPECT_EQ(frameMeaning({5, 5, 0x1A, 3, 24}, FrameRole::Answer, window),
            "ШС 3: состояние 24 на охране");
}

TraceRecord attempt(uint8_t address, uint8_t number, TraceOutcome outcome,
                    int64_t answerMicros = 0) {
  TraceRecord r;
  r.request[0] = address;
  r.requestSize = 7;
  r.attempt = number;
  r.attempts = 6;
  r.outcome = outcome;
  r.accepted = outcome == TraceOutcome::Answer;
  r.requestEndMicros = 1000;
  r.lastByteMicros = 1000 + answerMicros;
  return r;
}

TEST(TrafficCounters, AttemptsAddUpPerDevice) {
  TrafficCounters counters;
  TraceRecord acknowledgement = attempt(5, 1, TraceOutcome::Sent);
  acknowledgement.answerAwaited = false;
  for (const TraceRecord& r :
       {attempt(5, 1, TraceOutcome::Silence), attempt(5, 2, TraceOutcome::BadChecksum),
        attempt(5, 3, TraceOutcome::Answer, 9000), acknowledgement,
        attempt(5, 1, TraceOutcome::Answer, 3000), attempt(5, 1, TraceOutcome::Answer, 4000),
        attempt(0, 1, TraceOutcome::Sent)}) {
    counters.add(r);
  }
  for (uint8_t n = 1; n <= 6; ++n) counters.add(attempt(9, n, TraceOutcome::Silence));

  ASSERT_EQ(counters.devices().size(), 2u) << "broadcasts and acknowledgements are not counted";
  const DeviceTraffic& five = counters.devices().at(5);
  EXPECT_EQ(std::vector<uint64_t>({five.requests, five.attempts, five.answers, five.silences,
                                   five.damaged, five.retries, five.failed}),
            std::vector<uint64_t>({3, 5, 3, 1, 1, 2, 0}));
  EXPECT_NEAR(five.medianAnswerMs().value(), 4.0, 0.01);
  EXPECT_DOUBLE_EQ(five.worstAnswerMs().value(), 9.0);
  const DeviceTraffic& nine = counters.devices().at(9);
  EXPECT_EQ(std::vector<uint64_t>(
                {nine.requests, nine.attempts, nine.silences, nine.retries, nine.failed}),
            std::vector<uint64_t>({1, 6, 6, 5, 1}));
  EXPECT_FALSE(nine.medianAnswerMs());

  // Scripts read the English table, the window the Russian one; the columns
  // line up under their headings in both.
  EXPECT_EQ(
      countersTable(counters),
      (std::vector<std::string>{
          "addr requests answers silences damaged unsent retries failed median-ms worst-ms",
          "   5        3       3        1       1      0       2      0       4.0      9.0",
          "   9        1       0        6       0      0       5      1         -        -"}));
  EXPECT_EQ(
      countersTable(counters, {true, ','})[1],
      "   5        3       3        1        1         0        2      0        4,0       9,0");
  EXPECT_EQ(
      countersTable(counters, {true, ','})[0],
      "адр. запросов ответов молчаний искажено непослано повторов неудач медиана-мс худшее-мс");
}

TEST(TraceText, ScriptsReadEnglishAndTheWindowRussian) {
  TraceRecord silence = attempt(5, 2, TraceOutcome::Silence);
  silence.readEndMicros = 1000 + 12'500;
  const std::string english = traceText(silence);
  const std::string russian = traceText(silence, {true, ','});
  EXPECT_NE(english.find(" addr 5 try 2/6 05 00 00 00 00 00 00 | silence 12.5 ms | command 0x00"),
            std::string::npos)
      << english;
  EXPECT_NE(
      russian.find(" адрес 5 попытка 2/6 05 00 00 00 00 00 00 | молчание 12,5 мс | команда 0x00"),
      std::string::npos)
      << russian;
  EXPECT_EQ(droppedText(2, {true, ','}), "обмен: пропущено записей: 2 (чтение не успевало)");
}

}  // namespace
