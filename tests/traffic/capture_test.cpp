// The capture for Wireshark: what it holds read back, the files it refuses to
// replay, and the shipped dissector under tshark, whose words must be the
// trace's for every command and answer code.

#include "traffic/capture.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>

#include "scoped_temp_dir.h"
#include "traffic/frame_meaning.h"
#include "tshark.h"

using namespace loopmon;

namespace {

Bytes framed(Bytes bytes) {
  bytes.push_back(FrameChecksum(bytes));
  return bytes;
}

// One attempt from address 5's point of view: a request as sent and, unless
// `answer` is empty, the bytes that came back 8 ms after its end.
TraceRecord attempt(uint64_t exchange, const Bytes& request, const Bytes& answer,
                    TraceOutcome outcome) {
  TraceRecord r;
  r.exchange = exchange;
  r.attempt = 1;
  r.attempts = 6;
  r.wallMicros = 1'800'000'000'000'000 + static_cast<int64_t>(exchange) * 50'000;
  r.sentMicros = 1000;
  r.requestEndMicros = 1000 + static_cast<int64_t>(request.size()) * 1041;
  r.readEndMicros = r.requestEndMicros + 30'000;
  if (!answer.empty()) {
    r.firstByteMicros = r.requestEndMicros + 2000;
    r.lastByteMicros = r.requestEndMicros + 8000;
    r.readEndMicros = r.lastByteMicros;
  }
  r.outcome = outcome;
  r.accepted = outcome == TraceOutcome::Answer || outcome == TraceOutcome::OtherAddress;
  r.requestSize = static_cast<uint8_t>(request.size());
  std::copy(request.begin(), request.end(), r.request.begin());
  r.answerSize = static_cast<uint16_t>(answer.size());
  std::copy(answer.begin(), answer.end(), r.answer.begin());
  return r;
}

TEST(Capture, EveryAttemptReadsBackAsItWasSentAndReceived) {
  const Bytes presence = framed({5, 6, 0, 1, 0, 0});
  const Bytes damaged{5, 5, 2, 0, 0, 0x77};
  const std::vector<TraceRecord> records{
      attempt(1, presence, framed({5, 5, 2, 0, 0}), TraceOutcome::Answer),
      attempt(2, presence, {}, TraceOutcome::Silence),
      attempt(3, presence, damaged, TraceOutcome::BadChecksum),
  };
  CaptureWriter writer("test");
  for (const TraceRecord& record : records) writer.add(record);
  const std::vector<CapturedPacket> packets = readCapture(writer.content());
  struct Expected {
    bool answer;
    uint32_t exchange;
    TraceOutcome outcome;
    Bytes frame;
    int64_t afterFirst;  // µs after the first request left
  };
  const std::vector<Expected> expected{
      {false, 1, TraceOutcome::Answer, presence, 0},
      {true, 1, TraceOutcome::Answer, records[0].answerBytes(), 7 * 1041 + 8000},
      {false, 2, TraceOutcome::Silence, presence, 50'000},
      {false, 3, TraceOutcome::BadChecksum, presence, 100'000},
      {true, 3, TraceOutcome::BadChecksum, damaged, 100'000 + 7 * 1041 + 8000},
  };
  ASSERT_EQ(packets.size(), expected.size());
  for (size_t i = 0; i < packets.size(); ++i) {
    const CapturedPacket& p = packets[i];
    const Expected& e = expected[i];
    EXPECT_EQ(std::tie(p.answer, p.exchange, p.outcome, p.frame),
              std::tie(e.answer, e.exchange, e.outcome, e.frame))
        << "packet " << i;
    EXPECT_EQ(p.wallMicros - records[0].wallMicros, e.afterFirst) << "packet " << i;
    if (p.answer) {
      EXPECT_EQ(p.lastMicros, 8000);
    }
  }
}

TEST(Capture, AFileCutShortOrOfAnotherKindIsRefusedWithTheReason) {
  CaptureWriter writer("test");
  writer.add(attempt(1, framed({5, 6, 0, 1, 0, 0}), framed({5, 5, 2, 0, 0}), TraceOutcome::Answer));
  const std::string whole = writer.content();
  std::string otherLink = whole;
  // The interface block follows the section header; its link type is its first field.
  const size_t interface = *reinterpret_cast<const uint32_t*>(whole.data() + 4);
  otherLink[interface + 8] = 1;
  otherLink[interface + 9] = 0;
  const struct {
    std::string content;
    std::string reason;
  } cases[]{
      {"", "not a pcapng capture"},
      {"{\"site\": \"Склад\"}", "not a pcapng capture"},
      {std::string("\xD4\xC3\xB2\xA1", 4) + std::string(20, '\0'), "not a pcapng capture"},
      {whole.substr(0, whole.size() - 1), "truncated"},
      {whole.substr(0, interface + 10), "truncated"},
      {otherLink, "no interface of link type 156"},
  };
  for (const auto& c : cases) {
    try {
      readCapture(c.content);
      ADD_FAILURE() << "taken: " << c.reason;
    } catch (const CaptureError& error) {
      EXPECT_NE(std::string(error.what()).find(c.reason), std::string::npos) << error.what();
    }
  }
}

class Dissector : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string(TSHARK_PATH).empty())
      GTEST_FAIL() << "tshark is missing (scripts/install-deps)";
  }
  loopmon::testing::TsharkRows dissect(const CaptureWriter& writer,
                                       const std::vector<std::string>& fields) {
    const std::string file = folder.file("bus.pcapng");
    std::ofstream(file, std::ios::binary) << writer.content();
    return loopmon::testing::tsharkFields(TSHARK_PATH, DISSECTOR_PATH, file, fields);
  }
  loopmon::testing::ScopedTempDir folder;
};

// Every command with the data that make its words differ, every answer code
// likewise, every type code, version and loop state: the dissector says what
// the trace says, keyed frames included.
TEST_F(Dissector, NamesEveryRequestAndAnswerAsTheTraceDoes) {
  std::vector<std::pair<Bytes, Bytes>> exchanges;
  const std::pair<uint8_t, uint8_t> data[]{{3, 1}, {3, 4}, {0, 1}, {4, 7}};
  for (int code = 0; code < 256; ++code) {
    for (const auto& [d1, d2] : data) {
      const auto c = static_cast<uint8_t>(code);
      exchanges.push_back({framed({5, 6, 0, c, d1, d2}), framed({5, 5, c, d1, d2})});
    }
  }
  for (int value = 0; value < 256; ++value) {
    const auto v = static_cast<uint8_t>(value);
    exchanges.push_back({framed({5, 6, 0, 13, 0, 0}), framed({5, 5, BusAnswer::Identity, v, v})});
    exchanges.push_back(
        {framed({5, 6, 0, 0x19, 2, 0}), framed({5, 5, BusAnswer::LoopState, 2, v})});
  }
  CaptureWriter writer("test");
  std::vector<std::string> expected;
  uint64_t exchange = 0;
  for (const auto& [request, answer] : exchanges) {
    writer.add(attempt(++exchange, request, answer, TraceOutcome::Answer));
    expected.push_back(frameMeaning(request, FrameRole::Request));
    expected.push_back(frameMeaning(answer, FrameRole::Answer));
  }
  // Keyed: Command and Data (an answer's Code and Data) XORed with the key.
  std::array<uint16_t, KeyWordCount> keys{};
  keys[5] = 0x5A;
  for (const uint8_t command : {BusCommand::Identify, BusCommand::LoopAdc}) {
    std::optional<uint8_t> key;
    const Bytes plain{5, 6, 0, command, 7, 0};
    const Bytes keyed =
        buildFrame({5 + 128, 6, 0x21, command, 7, 0}, keys.data(), CrcTable::Carried, key);
    const Bytes answer{5, 5, 0x1C, 7, 99};
    Bytes sent{5 + 128, 5};
    for (size_t i = 2; i < answer.size(); ++i) sent.push_back(answer[i] ^ *key);
    TraceRecord r = attempt(++exchange, keyed, framed(sent), TraceOutcome::Answer);
    r.keyed = true;
    r.key = *key;
    writer.add(r);
    expected.push_back(frameMeaning(plain, FrameRole::Request));
    expected.push_back(frameMeaning(answer, FrameRole::Answer));
  }
  const loopmon::testing::TsharkRows rows =
      dissect(writer, {"loopmon.meaning", "loopmon.checksum.status", "_ws.malformed"});
  ASSERT_EQ(rows.size(), expected.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i], (std::vector<std::string>{expected[i], "good", ""})) << "packet " << i + 1;
  }
}

// A bad checksum, a silence and an answer from another address each get
// their expert mark; an answer is paired with its own request, also where a
// later session repeats its numbers, and the time between them told.
TEST_F(Dissector, MarksWhatWentWrongAndPairsEachAnswer) {
  const Bytes presence = framed({5, 6, 0, 1, 0, 0});
  CaptureWriter writer("test");
  writer.add(attempt(1, presence, framed({5, 5, 2, 0, 0}), TraceOutcome::Answer));
  writer.add(attempt(2, presence, {5, 5, 2, 0, 0, 0x77}, TraceOutcome::BadChecksum));
  writer.add(attempt(3, presence, {}, TraceOutcome::Silence));
  writer.add(attempt(4, presence, framed({6, 5, 2, 0, 0}), TraceOutcome::OtherAddress));
  // A later session of the same run counts its exchanges from 1 again.
  TraceRecord again = attempt(5, presence, framed({5, 5, 2, 0, 0}), TraceOutcome::Answer);
  again.exchange = 1;
  writer.add(again);
  const loopmon::testing::TsharkRows rows =
      dissect(writer, {"loopmon.checksum.status", "loopmon.request_in", "loopmon.response_in",
                       "loopmon.time_ms", "_ws.expert.message"});
  const std::string time = "15.29";  // 7 bytes of request and 8 ms after
  const loopmon::testing::TsharkRows expected{
      {"good", "", "2", "", ""},
      {"good", "1", "", time, ""},
      {"good", "", "4", "", ""},
      {"bad", "3", "", time, "Bad checksum"},
      // The packet's comment in the trace's words, then the mark.
      {"good", "", "", "", "silence 30.0 ms No answer: silence 30.0 ms"},
      {"good", "", "7", "", ""},
      {"good", "6", "", time, "Answer from address 6"},
      {"good", "", "9", "", ""},
      {"good", "8", "", time, ""},
  };
  ASSERT_EQ(rows.size(), expected.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    std::vector<std::string> row = rows[i];
    if (!row[3].empty()) {
      char rounded[16];
      std::snprintf(rounded, sizeof rounded, "%.2f", std::stod(row[3]));
      row[3] = rounded;
    }
    EXPECT_EQ(row, expected[i]) << "packet " << i + 1;
  }
}

}  // namespace
