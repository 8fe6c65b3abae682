// The remote line's book-keeping on a fake clock, over a connection played in
// memory: the flood bound at its exact limit, what the allowance learns from
// the round trip and from late answers, and answers owed across tries. No
// real time passes, so no machine's load can move a result.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "fake_clock.h"
#include "platform/remote/flood_guard.h"
#include "platform/remote/network_delay.h"
#include "platform/remote/remote_line.h"
#include "platform/remote/telnet_codec.h"

using namespace loopmon;
using namespace loopmon::telnet;
using loopmon::testing::FakeClock;
using std::chrono::milliseconds;

namespace {

const FloodGuard::Time T0{};

TEST(FloodGuard, HoldsTheBoundAtItsExactLimit) {
  struct Case {
    const char* what;
    size_t first;   // bytes at the connection's start
    int laterMs;    // then after so long (none when negative)
    size_t later;   // so many more
    size_t queued;  // with so many waiting to be read
    bool admitted;
  };
  const size_t pacePerSecond = RemoteLinePaceBytesPerSecond;
  const Case cases[] = {
      {"one short of the bound", RemoteFloodBytes - 1, -1, 0, 0, true},
      {"the bound itself", RemoteFloodBytes, -1, 0, 0, true},
      {"one over the bound", RemoteFloodBytes + 1, -1, 0, 0, false},
      {"the bound, then a second's pace", RemoteFloodBytes, 1000, pacePerSecond, 0, true},
      {"the bound, then one over a second's pace", RemoteFloodBytes, 1000, pacePerSecond + 1, 0,
       false},
      {"a quiet line saves no more than the bound", 0, 60000, RemoteFloodBytes + 1, 0, false},
      {"the queue at its bound", 1, -1, 0, RemoteQueueBytes, true},
      {"the queue one over", 1, -1, 0, RemoteQueueBytes + 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FloodGuard guard;
    guard.restart(T0);
    bool admitted = guard.admits(c.first, c.laterMs < 0 ? c.queued : 0, T0);
    if (c.laterMs >= 0) admitted = guard.admits(c.later, c.queued, T0 + milliseconds(c.laterMs));
    EXPECT_EQ(admitted, c.admitted);
  }
}

// Twice the round trip and 5 ms for the server's gathering, a late answer's
// delay and a quarter, all within the ceiling; the ceiling until the line has
// answered on its connection.
TEST(NetworkDelay, AllowanceFromRoundTripsAndLateAnswers) {
  struct Case {
    const char* what;
    int serverAnswersAfterMs;  // the server's answer to a control request (none when negative)
    double kernelMs;           // the system's round trip (none when negative)
    double lateMs;             // an answer so much after its try gave up (none when 0)
    uint32_t allowanceMs;
  };
  const Case cases[] = {
      {"nothing known", -1, -1, 0, 5},
      {"server at once", 0, -1, 0, 5},
      {"server after 15 ms", 15, -1, 0, 35},
      {"server after 40 ms, at the ceiling", 40, -1, 0, 50},
      {"the system's round trip before the server's", 15, 1.5, 0, 8},
      {"a late answer and a quarter", -1, 1.5, 20, 25},
      {"a late answer within the ceiling", -1, -1, 60, 50},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    NetworkDelay delay;
    delay.noteConnected();
    EXPECT_EQ(delay.allowanceMs(50), 50u) << "until the line has answered";
    delay.noteControlSent(PurgeData, T0);
    if (c.serverAnswersAfterMs >= 0) {
      delay.noteServerAnswered(PurgeData + ServerAnswerOffset,
                               T0 + milliseconds(c.serverAnswersAfterMs));
    }
    if (c.kernelMs >= 0) delay.noteKernelRoundTrip(c.kernelMs);
    if (c.lateMs > 0) delay.noteLateAnswer(c.lateMs, 50);
    delay.noteAnswered();
    EXPECT_EQ(delay.allowanceMs(50), c.allowanceMs);
    delay.noteConnected();
    EXPECT_EQ(delay.allowanceMs(50), 50u) << "a new connection";
  }
}

// A connection played in memory: what the server sends is due at a moment of
// the fake clock; a wait for it moves the clock on to that moment, or by the
// whole wait when nothing is due.
class PlayedConnection final : public StreamSocket {
 public:
  PlayedConnection(FakeClock& clock, TelnetBytes onConnect, std::optional<uint32_t> roundTrip)
      : clock_(clock), onConnect_(std::move(onConnect)), roundTrip_(roundTrip) {}

  SocketFailure connect(const std::string&, uint16_t, uint32_t) override {
    connected_ = true;
    ++connections;
    if (!onConnect_.empty()) sendAfter(0, onConnect_);
    return {};
  }
  void close() override {
    connected_ = false;
    due_.clear();
  }
  bool isConnected() const override { return connected_; }
  bool send(const uint8_t* data, size_t count, uint32_t) override {
    sent.insert(sent.end(), data, data + count);
    return connected_;
  }
  std::optional<size_t> receive(uint8_t* buffer, size_t capacity, uint32_t waitMs) override {
    if (!connected_) return std::nullopt;
    const int64_t until = clock_.nowMicros() + int64_t{waitMs} * 1000;
    if (due_.empty() || due_.begin()->first > until) {
      clock_.advanceMicros(until - clock_.nowMicros());
      return 0;
    }
    clock_.advanceMicros(std::max<int64_t>(0, due_.begin()->first - clock_.nowMicros()));
    size_t n = 0;
    while (!due_.empty() && due_.begin()->first <= clock_.nowMicros() &&
           n + due_.begin()->second.size() <= capacity) {
      for (const uint8_t byte : due_.begin()->second) buffer[n++] = byte;
      due_.erase(due_.begin());
    }
    return n;
  }
  std::optional<uint32_t> roundTripMicros() const override { return roundTrip_; }

  // The server sends `bytes` so long from now.
  void sendAfter(int ms, const TelnetBytes& bytes) {
    due_.emplace(clock_.nowMicros() + int64_t{ms} * 1000, bytes);
  }

  TelnetBytes sent;
  int connections = 0;

 private:
  FakeClock& clock_;
  TelnetBytes onConnect_;
  std::optional<uint32_t> roundTrip_;
  bool connected_ = false;
  std::multimap<int64_t, TelnetBytes> due_;
};

const TelnetBytes Agreement{Iac, Do, BinaryOption, Iac, Will, BinaryOption, Iac, Do, ComPortOption};

bool contains(const TelnetBytes& bytes, const TelnetBytes& part) {
  return std::search(bytes.begin(), bytes.end(), part.begin(), part.end()) != bytes.end();
}

// The allowance follows the connection as an exchange drives the line (purge,
// request, the answer read in two parts): the ceiling until the line has
// answered, the round trip's allowance, then what a late answer needed. The
// answer the late request's retry is owed must not pass for the next
// request's; while it is owed no purge goes to the server, which would drop it
// there; one that may never come (a try lost on its way) makes the line
// connect again before a different request to that device.
TEST(RemoteLineOnAFakeClock, AllowanceAndOwedAnswersFollowTheExchanges) {
  struct Case {
    const char* url;
    std::optional<uint32_t> roundTripMicros;
    uint32_t allowanceMs;  // once the line has answered
  };
  const Case cases[] = {{"tcp://box:4001", 200, 6},
                        {"rfc2217://box:2001", 200, 6},
                        {"tcp://box:4001", std::nullopt, 5}};
  const TelnetBytes request1{9, 6, 0, 0x21, 0, 0, 0x41}, request2{9, 6, 0, 0x22, 0, 0, 0x42};
  const TelnetBytes first{9, 5, 0, 0x21, 0x64, 0x99}, second{9, 5, 0, 0x22, 0x64, 0x9a};
  const TelnetBytes purgeThere = TelnetCodec::comPortCommand(PurgeData, {PurgeReceived});
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.url) + (c.roundTripMicros ? "" : ", no round trip from the system"));
    const bool telnet = std::string(c.url).rfind("rfc2217", 0) == 0;
    auto clock = std::make_shared<FakeClock>();
    PlayedConnection* connection = nullptr;
    auto port = makeRemoteLinePort(clock, [&] {
      auto made = std::make_unique<PlayedConnection>(*clock, telnet ? Agreement : TelnetBytes{},
                                                     c.roundTripMicros);
      connection = made.get();
      return made;
    });
    ASSERT_TRUE(port->open(c.url)) << port->failure();
    // A local line's 30 ms and the allowance; the device answers `answerMs`
    // after the request (never when negative); the read begins `readAfterMs`
    // after it.
    auto tryOnce = [&](int answerMs, const TelnetBytes& request, const TelnetBytes& answer,
                       int readAfterMs = 0) {
      port->setTimeouts({0, 0, 30 + port->networkAllowanceMs(50), 0, 0});
      port->purge(PurgeAction::RxClear);
      port->requestGoesOut(request.data(), request.size(), true);
      port->write(request.data(), request.size());
      if (answerMs >= 0) connection->sendAfter(answerMs, answer);
      clock->advanceMs(readAfterMs);
      TelnetBytes got(answer.size());
      size_t count = port->read(got.data(), 3);
      if (count == 3) count += port->read(got.data() + 3, 3);
      got.resize(count);
      return got;
    };

    EXPECT_EQ(port->networkAllowanceMs(50), 50u) << "until the line has answered";
    EXPECT_EQ(tryOnce(20, request1, first), first);
    EXPECT_EQ(port->networkAllowanceMs(50), c.allowanceMs);
    EXPECT_EQ(port->networkAllowanceMs(2), 2u);
    EXPECT_EQ(tryOnce(40, request1, first), TelnetBytes{}) << "later than 30 ms and the allowance";
    EXPECT_EQ(tryOnce(30, request1, first), first) << "the try before's late answer";
    const size_t sentBefore = connection->sent.size();
    EXPECT_EQ(tryOnce(5, request2, second), second) << "not the retry's late answer";
    EXPECT_FALSE(contains(
        TelnetBytes(connection->sent.begin() + sentBefore, connection->sent.end()), purgeThere))
        << "no purge at the server while an answer is owed";
    // Known to be late once the retry's own answer had come too: 10 ms after
    // its try gave up, and a quarter.
    EXPECT_EQ(port->networkAllowanceMs(50), 13u) << "what the late answer needed";

    EXPECT_EQ(tryOnce(-1, request2, second), TelnetBytes{}) << "a try lost on its way";
    EXPECT_EQ(tryOnce(5, request2, second), second);
    EXPECT_EQ(connection->connections, 1);
    EXPECT_EQ(tryOnce(5, request1, first), first) << "on a new connection";
    EXPECT_EQ(connection->connections, 2);
  }
}

// Over RFC 2217, where the system tells no round trip, the server's answers
// to control requests time the network and the server.
TEST(RemoteLineOnAFakeClock, TheServersAnswersTimeTheRoundTrip) {
  auto clock = std::make_shared<FakeClock>();
  PlayedConnection* connection = nullptr;
  auto port = makeRemoteLinePort(clock, [&] {
    auto made = std::make_unique<PlayedConnection>(*clock, Agreement, std::nullopt);
    connection = made.get();
    return made;
  });
  ASSERT_TRUE(port->open("rfc2217://box:2001")) << port->failure();
  const TelnetBytes request{9, 6, 0, 0x21, 0, 0, 0x41}, answer{9, 5, 0, 0x21, 0x64, 0x99};
  port->setTimeouts({0, 0, 30 + port->networkAllowanceMs(50), 0, 0});
  port->purge(PurgeAction::RxClear);
  connection->sendAfter(
      15, {Iac, Sb, ComPortOption, PurgeData + ServerAnswerOffset, PurgeReceived, Iac, Se});
  port->requestGoesOut(request.data(), request.size(), true);
  port->write(request.data(), request.size());
  connection->sendAfter(20, answer);
  uint8_t got[6] = {};
  ASSERT_EQ(port->read(got, sizeof got), sizeof got);
  // Twice a hair over 15 ms (the fake clock's counter moves as it is read)
  // and the server's gathering, rounded up.
  EXPECT_GE(port->networkAllowanceMs(50), 35u);
  EXPECT_LE(port->networkAllowanceMs(50), 36u);
}

// A server that cannot carry the line is named, with what it lacks; one that
// stays silent is given up after the negotiation's bound, not waited on.
TEST(RemoteLineOnAFakeClock, ServersThatCannotCarryTheLineAreNamed) {
  struct Case {
    const char* what;
    TelnetBytes answers;
    std::string problem;
  };
  const Case cases[] = {
      {"COM port option refused",
       {Iac, Dont, ComPortOption, Iac, Do, BinaryOption, Iac, Will, BinaryOption},
       "rfc2217://box:2001: the server refuses the COM port option (RFC 2217)"},
      {"no telnet at all", {}, "rfc2217://box:2001: no answer to the COM port option within 2 s"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto clock = std::make_shared<FakeClock>();
    auto port = makeRemoteLinePort(
        clock, [&] { return std::make_unique<PlayedConnection>(*clock, c.answers, std::nullopt); });
    EXPECT_FALSE(port->open("rfc2217://box:2001"));
    EXPECT_FALSE(port->isOpen());
    EXPECT_EQ(port->failure().rfind(c.problem, 0), 0u) << port->failure();
  }
}

}  // namespace
