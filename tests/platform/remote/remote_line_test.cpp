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
  return makeRemoteLinePort(systemClock(), [] { return makeStreamSocket(systemClock()); });
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
  ASSERT_TRUE(session.OpenPort());
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
