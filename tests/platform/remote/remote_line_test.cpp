// Remote lines against a scripted server on the loopback address: the telnet
// negotiation as the line opens, the bytes each call puts on the connection,
// the failures a user is told about, and servers that flood the line.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/remote/remote_line.h"
#include "platform/remote/telnet_codec.h"
#include "scoped_temp_dir.h"
#include "scripted_server.h"
#include "session/session.h"
#include "transport/bus_state.h"

using namespace loopmon;
using namespace loopmon::telnet;
using loopmon::testing::ScriptedServer;

namespace {

constexpr uint8_t Echo = 1;

const TelnetBytes Offers{Iac, Will, BinaryOption, Iac, Do, BinaryOption, Iac, Will, ComPortOption};

std::unique_ptr<SerialPort> remotePort() {
  return makeRemoteLinePort(systemClock(), [] { return makeStreamSocket(); });
}

// Opens `url` while the server answers the client's offers with `answers`.
bool openAgainst(SerialPort& port, ScriptedServer& server, const std::string& url,
                 const TelnetBytes& answers) {
  auto opened = std::async(std::launch::async, [&] { return port.open(url); });
  EXPECT_TRUE(server.accept());
  EXPECT_EQ(server.receive(Offers.size()), Offers);
  if (!answers.empty()) server.send(answers);
  return opened.get();
}

const TelnetBytes Agreement{Iac, Do, BinaryOption, Iac, Will, BinaryOption, Iac, Do, ComPortOption};

TelnetBytes command(uint8_t code, uint8_t value) {
  return TelnetCodec::comPortCommand(code, {value});
}

TEST(RemoteLine, Rfc2217CarriesTheLineAndItsSettings) {
  ScriptedServer server;
  auto port = remotePort();
  ASSERT_TRUE(openAgainst(
      *port, server, server.url("rfc2217"),
      {Iac, Will, Echo, Iac, Do, BinaryOption, Iac, Will, BinaryOption, Iac, Do, ComPortOption}));
  EXPECT_TRUE(port->isRemote());
  EXPECT_EQ(port->failure(), "");
  EXPECT_EQ(server.receive(3), (TelnetBytes{Iac, Dont, Echo})) << "no echo of our own frames";

  CommState line;
  line.baudRate = 9600;
  ASSERT_TRUE(port->setState(line));
  port->setDtr(true);
  port->purge(PurgeAction::TxClear);
  port->purge(PurgeAction::RxClear);
  const TelnetBytes frame{5, 6, Iac, 1, 0, 0};
  EXPECT_EQ(port->write(frame.data(), frame.size()), frame.size());
  TelnetBytes expected = TelnetCodec::baudRateCommand(9600);
  for (const TelnetBytes& c :
       {command(SetDataSize, 8), command(SetParity, 1), command(SetStopSize, 1),
        command(SetControl, NoFlowControl), command(SetControl, DtrOn),
        command(PurgeData, PurgeToSend), command(PurgeData, PurgeReceived),
        TelnetBytes{5, 6, Iac, Iac, 1, 0, 0}}) {
    expected.insert(expected.end(), c.begin(), c.end());
  }
  EXPECT_EQ(server.receive(expected.size()), expected);

  server.send({9, Iac, Iac, Iac, Sb, ComPortOption, 101, 0, 0, 0x25, 0x80, Iac, Se, 10});
  port->setTimeouts({0, 0, 2000, 0, 0});
  uint8_t answer[3] = {};
  ASSERT_EQ(port->read(answer, 3), 3u);
  EXPECT_EQ(TelnetBytes(answer, answer + 3), (TelnetBytes{9, Iac, 10}));
}

TEST(RemoteLine, ServersThatCannotCarryTheLineAreNamed) {
  struct Case {
    const char* what;
    TelnetBytes answers;
    std::string problem;
  };
  const Case cases[] = {
      {"COM port option refused",
       {Iac, Dont, ComPortOption, Iac, Do, BinaryOption, Iac, Will, BinaryOption},
       "the server refuses the COM port option (RFC 2217)"},

      {"no telnet at all", {}, "no answer to the COM port option within 2 s"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedServer server;
    auto port = remotePort();
    EXPECT_FALSE(openAgainst(*port, server, server.url("rfc2217"), c.answers));
    EXPECT_FALSE(port->isOpen());
    EXPECT_EQ(port->failure().rfind(server.url("rfc2217") + ": ", 0), 0u) << port->failure();
    EXPECT_NE(port->failure().find(c.problem), std::string::npos) << port->failure();
  }
}

TEST(RemoteLine, NamesAndConnectFailures) {
  std::string problem;
  const auto address = parseRemoteLine("RFC2217://[::1]:4001", problem);
  ASSERT_TRUE(address);
  EXPECT_EQ(address->text(), "rfc2217://[::1]:4001");

  ScriptedServer closed;
  closed.stopListening();
  const std::pair<std::string, std::string> cases[] = {
      {closed.url("tcp"), closed.url("tcp") + ": connection refused"},
      {"rfc2217://nosuchhost.invalid:4000", "rfc2217://nosuchhost.invalid:4000: host not found"},
      {"tcp://box:65536", "expected tcp://HOST:PORT with a port of 1..65535"},
      {"tcp://fe80::1:4000", "expected tcp://HOST:PORT"},
  };
  for (const auto& [name, message] : cases) {
    SCOPED_TRACE(name);
    auto port = remotePort();
    EXPECT_FALSE(port->open(name));
    EXPECT_NE(port->failure().find(message), std::string::npos) << port->failure();
  }
}

TEST(RemoteLine, RawLineLostMidReadReconnectsOnTheNextOpen) {
  ScriptedServer server;
  auto port = remotePort();
  const std::string url = server.url("tcp");
  auto opened = std::async(std::launch::async, [&] { return port->open(url); });
  ASSERT_TRUE(server.accept());
  ASSERT_TRUE(opened.get()) << port->failure();

  const TelnetBytes frame{Iac, Will, 1};
  EXPECT_EQ(port->write(frame.data(), frame.size()), 3u);
  EXPECT_EQ(server.receive(3), frame) << "bytes as they are";
  server.send({Iac, 5});
  server.hangUp();
  port->setTimeouts({0, 0, 5000, 0, 0});
  uint8_t answer[6] = {};
  EXPECT_EQ(port->read(answer, 6), 2u);
  EXPECT_EQ(answer[0], Iac);
  EXPECT_FALSE(port->isOpen());
  EXPECT_EQ(port->failure(), url + ": connection lost");

  // A server still letting go of its last client closes the first connection.
  opened = std::async(std::launch::async, [&] { return port->open(url); });
  ASSERT_TRUE(server.accept());
  const std::string busy = "Port's device already in use\r\n";
  server.send(TelnetBytes(busy.begin(), busy.end()));
  server.hangUp();
  ASSERT_TRUE(server.accept());
  ASSERT_TRUE(opened.get()) << port->failure();
  EXPECT_EQ(port->failure(), "");

  server.hangUp();
  server.stopListening();
  EXPECT_EQ(port->read(answer, 6), 0u);
  EXPECT_FALSE(port->open(url));
  EXPECT_EQ(port->failure(), url +
                                 ": connection lost, and connecting again failed: connection "
                                 "refused (nothing serves that port)");
}

// The allowance follows the connection as an exchange drives the line (purge,
// request, the answer read in two parts), over either protocol: the ceiling
// until the line has answered, a few milliseconds on the loopback address,
// then what a late answer needed. The answer the late request's retry is owed
// must not pass for the next request's; one that may never come (a try lost
// on its way) makes the line connect again before a different request to that
// device.
// A connection whose system tells no round trip (Wine's, a Windows before
// 10 1703): the line has the answers' times alone.
class NoRoundTrip final : public StreamSocket {
 public:
  SocketFailure connect(const std::string& host, uint16_t port, uint32_t timeoutMs) override {
    return inner_->connect(host, port, timeoutMs);
  }
  void close() override { inner_->close(); }
  bool isConnected() const override { return inner_->isConnected(); }
  bool send(const uint8_t* data, size_t count, uint32_t timeoutMs) override {
    return inner_->send(data, count, timeoutMs);
  }
  std::optional<size_t> receive(uint8_t* buffer, size_t capacity, uint32_t waitMs) override {
    return inner_->receive(buffer, capacity, waitMs);
  }

 private:
  std::unique_ptr<StreamSocket> inner_ = makeStreamSocket();
};

void checkAllowanceFollowsTheLine(const char* scheme, bool systemRoundTrip) {
  using namespace std::chrono;
  const bool telnet = scheme == std::string("rfc2217");
  ScriptedServer server;
  auto port = systemRoundTrip ? remotePort()
                              : makeRemoteLinePort(systemClock(), [] { return std::make_unique<NoRoundTrip>(); });
  if (telnet) {
    ASSERT_TRUE(openAgainst(*port, server, server.url(scheme), Agreement));
  } else {
    auto opened = std::async(std::launch::async, [&] { return port->open(server.url(scheme)); });
    ASSERT_TRUE(server.accept());
    ASSERT_TRUE(opened.get()) << port->failure();
  }
  const TelnetBytes request1{9, 6, 0, 0x21, 0, 0, 0x41}, request2{9, 6, 0, 0x22, 0, 0, 0x42};
  const TelnetBytes first{9, 5, 0, 0x21, 0x64, 0x99}, second{9, 5, 0, 0x22, 0x64, 0x9a};
  std::vector<std::jthread> device;
  steady_clock::time_point sent;
  // A local line's 30 ms and the allowance; the device answers `answerMs`
  // after the request (never when negative); the read begins at `readAt`.
  // `connecting`: the server takes the line's new connection meanwhile.
  auto tryOnce = [&](int answerMs, const TelnetBytes& request, const TelnetBytes& answer,
                     steady_clock::time_point readAt = {},
                     std::future<bool>* connecting = nullptr) {
    port->setTimeouts({0, 0, 30 + port->networkAllowanceMs(50), 0, 0});
    port->purge(PurgeAction::RxClear);
    port->requestGoesOut(request.data(), request.size(), true);
    if (connecting) {
      EXPECT_TRUE(connecting->get());
    }
    sent = steady_clock::now();
    port->write(request.data(), request.size());
    if (answerMs >= 0) {
      device.emplace_back([&server, answer, at = sent + milliseconds(answerMs)] {
        std::this_thread::sleep_until(at);
        server.send(answer);
      });
    }
    std::this_thread::sleep_until(readAt);
    TelnetBytes got(answer.size());
    size_t count = port->read(got.data(), 3);
    if (count == 3) count += port->read(got.data() + 3, 3);
    got.resize(count);
    return got;
  };

  EXPECT_EQ(port->networkAllowanceMs(50), 50u) << "until the line has answered";
  EXPECT_EQ(tryOnce(20, request1, first), first);
  EXPECT_LT(port->networkAllowanceMs(50), 20u) << "the loopback address";
  EXPECT_EQ(port->networkAllowanceMs(2), 2u);
  EXPECT_EQ(tryOnce(70, request1, first), TelnetBytes{});
  EXPECT_EQ(tryOnce(60, request1, first, sent + milliseconds(80)), first)
      << "the try before's late answer";
  EXPECT_EQ(tryOnce(25, request2, second), second) << "not the retry's late answer";
  // Known to be late once the retry's own answer had come too.
  EXPECT_GE(port->networkAllowanceMs(50), 35u) << "what the late answer needed";
  EXPECT_LE(port->networkAllowanceMs(50), 50u);

  EXPECT_EQ(tryOnce(-1, request2, second), TelnetBytes{}) << "a try lost on its way";
  EXPECT_EQ(tryOnce(20, request2, second), second);
  device.clear();  // the answers sent, before the server's connection changes
  auto accepted = std::async(std::launch::async, [&] {
    if (!server.accept()) return false;
    if (telnet && server.receive(Offers.size()) == Offers) server.send(Agreement);
    return true;
  });
  EXPECT_EQ(tryOnce(20, request1, first, {}, &accepted), first) << "on a new connection";
}

TEST(RemoteLine, NetworkAllowanceFollowsTheLineWithinItsCeiling) {
  const std::pair<const char*, bool> cases[] = {{"tcp", true}, {"rfc2217", true}, {"tcp", false}};
  for (const auto& [scheme, systemRoundTrip] : cases) {
    SCOPED_TRACE(std::string(scheme) + (systemRoundTrip ? "" : ", no round trip from the system"));
    checkAllowanceFollowsTheLine(scheme, systemRoundTrip);
  }
}

// Over RFC 2217, where the system tells no round trip, the server's answers to
// control requests time the network and the server: the allowance covers
// twice that round trip and the server's gathering, within the ceiling. While an answer is owed, no
// purge goes to the server, which would drop the late answer there: the line learns of it instead.
TEST(RemoteLine, Rfc2217AllowanceFollowsTheServersAnswers) {
  struct Case {
    int answerMs;  // the server's answer to the purge comes so much later
    uint32_t atLeastMs, atMostMs;
  };
  const Case cases[] = {{0, 0, 19}, {15, 35, 50}, {40, 50, 50}};
  const TelnetBytes request{9, 6, 0, 0x21, 0, 0, 0x41}, answer{9, 5, 0, 0x21, 0x64, 0x99};
  const TelnetBytes purgeLine = command(PurgeData, PurgeReceived);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answerMs);
    ScriptedServer server;
    auto port = makeRemoteLinePort(systemClock(), [] { return std::make_unique<NoRoundTrip>(); });
    ASSERT_TRUE(openAgainst(*port, server, server.url("rfc2217"), Agreement));
    port->setTimeouts({0, 0, 30 + port->networkAllowanceMs(50), 0, 0});
    port->purge(PurgeAction::RxClear);
    ASSERT_EQ(server.receive(purgeLine.size()), purgeLine);
    std::this_thread::sleep_for(std::chrono::milliseconds(c.answerMs));
    server.send({Iac, Sb, ComPortOption, PurgeData + ServerAnswerOffset, PurgeReceived, Iac, Se});
    port->requestGoesOut(request.data(), request.size(), true);
    port->write(request.data(), request.size());
    ASSERT_EQ(server.receive(request.size()), request);
    server.send(answer);
    uint8_t got[6] = {};
    ASSERT_EQ(port->read(got, sizeof got), sizeof got);
    const uint32_t allowanceMs = port->networkAllowanceMs(50);
    EXPECT_GE(allowanceMs, c.atLeastMs);
    EXPECT_LE(allowanceMs, c.atMostMs);

    port->setTimeouts({0, 0, 1 + allowanceMs, 0, 0});
    port->requestGoesOut(request.data(), request.size(), true);
    port->write(request.data(), request.size());
    ASSERT_EQ(server.receive(request.size()), request);
    EXPECT_EQ(port->read(got, sizeof got), 0u) << "the answer is late";
    port->purge(PurgeAction::RxClear);
    port->requestGoesOut(request.data(), request.size(), true);
    port->write(request.data(), request.size());
    EXPECT_EQ(server.receive(request.size()), request) << "no purge while the answer is owed";
  }
}

// A server that sends without pause, or opens a subnegotiation that never
// ends, is dropped with its line named rather than read into memory for ever.
TEST(RemoteLine, FloodingServersAreDroppedAndNamed) {
  struct Case {
    const char* what;
    const char* scheme;
    bool afterOpening;  // the flood starts once the line has opened
    TelnetBytes floodPrefix;
    std::string problem;
  };
  const Case cases[] = {
      {"raw line streaming", "tcp", true, {}, "the line sends without pause"},
      {"telnet streaming instead of negotiating", "rfc2217", false, {}, "sends without pause"},
      {"telnet streaming after negotiating", "rfc2217", true, {}, "sends without pause"},
      {"an endless subnegotiation",
       "rfc2217",
       true,
       {Iac, Sb, ComPortOption, 101},
       "a telnet subnegotiation of over 64 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedServer server;
    auto port = remotePort();
    const std::string url = server.url(c.scheme);
    auto opened = std::async(std::launch::async, [&] { return port->open(url); });
    ASSERT_TRUE(server.accept());
    const bool telnet = c.scheme == std::string("rfc2217");
    if (telnet) {
      EXPECT_EQ(server.receive(Offers.size()), Offers);
    }
    if (c.afterOpening) {
      if (telnet) server.send(Agreement);
      ASSERT_TRUE(opened.get()) << port->failure();
      server.flood(c.floodPrefix);
      // The session's exchanges, a purge and a read each, as the bytes come.
      port->setTimeouts({0, 0, 2000, 0, 0});
      for (int exchange = 0; exchange < 1000 && port->isOpen(); ++exchange) {
        port->purge(PurgeAction::RxClear);
        uint8_t answer[6];
        port->read(answer, sizeof answer);
      }
    } else {
      server.flood(c.floodPrefix);
      EXPECT_FALSE(opened.get());
    }
    EXPECT_FALSE(port->isOpen());
    EXPECT_EQ(port->failure().rfind(url + ": ", 0), 0u) << port->failure();
    EXPECT_NE(port->failure().find(c.problem), std::string::npos) << port->failure();
    EXPECT_EQ(port->takeDropped(), port->failure()) << "told once as a dropped line";
  }
}

// Through a session: the request ends at once with the line's account (the
// window's one box, loopctl's exit 1).
TEST(RemoteLine, ASessionHearsOfADroppedLineAtOnce) {
  loopmon::testing::ScopedTempDir config;
  loopmon::testing::ScopedEnv store("XDG_CONFIG_HOME", config.path());
  ScriptedServer server;
  const std::string url = server.url("tcp");
  TRSSession session(Platform::system());
  session.SetPortPath(url);
  ASSERT_TRUE(OpenPort(session.Bus()));
  ASSERT_TRUE(server.accept());
  server.flood({});
  // Flooded meanwhile, the connection holds far more than a bus carries.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const Bytes presence{9, 6, 0, 1, 0, 0};
  try {
    session.DirectRequest(presence, 1);
    ADD_FAILURE() << "the flood passed in silence";
  } catch (const PortLostError& error) {
    EXPECT_EQ(std::string(error.what()),
              url +
                  ": the line sends without pause (16 KB more than a bus carries); the "
                  "connection is dropped");
  }
  // Tried again within the request, the line would have connected again (the
  // listener queues the connection) and the loss been forgotten.
  EXPECT_EQ(session.Statistics().attempts, 1u);
}

}  // namespace
