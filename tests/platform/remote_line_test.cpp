// Remote lines against a scripted server on the loopback address: the telnet
// negotiation as the line opens, the bytes each call puts on the connection,
// and the failures a user is told about.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <future>
#include <string>

#include "platform/posix_files.h"
#include "platform/remote_line.h"
#include "platform/telnet_codec.h"

using namespace loopmon;
using namespace loopmon::telnet;

namespace {

constexpr uint8_t Echo = 1;

// A TCP server on 127.0.0.1 with a port the system chose, played step by step.
class ScriptedServer {
 public:
  ScriptedServer() {
    listener_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), size);
    ::listen(listener_.get(), 4);
    ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
  }

  std::string url(const char* scheme) const {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_);
  }

  bool accept() {
    pollfd p{listener_.get(), POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) return false;
    connection_.reset(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    return connection_.valid();
  }
  void send(const TelnetBytes& bytes) {
    ASSERT_EQ(::send(connection_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  // Exactly `count` bytes, or what came within two seconds.
  TelnetBytes receive(size_t count) {
    TelnetBytes bytes(count);
    size_t got = 0;
    pollfd p{connection_.get(), POLLIN, 0};
    while (got < count && (::poll(&p, 1, 2000) > 0)) {
      const ssize_t n = ::recv(connection_.get(), bytes.data() + got, count - got, 0);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    return bytes;
  }
  void hangUp() { connection_.reset(); }
  void stopListening() { listener_.reset(); }

 private:
  posix::UniqueFd listener_;
  posix::UniqueFd connection_;
  uint16_t port_ = 0;
};

const TelnetBytes Offers{Iac, Will, BinaryOption, Iac, Do, BinaryOption, Iac, Will, ComPortOption};

std::unique_ptr<SerialPort> remotePort() {
  return makeRemoteLinePort([] { return makeStreamSocket(); });
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

  opened = std::async(std::launch::async, [&] { return port->open(url); });
  ASSERT_TRUE(server.accept());
  ASSERT_TRUE(opened.get());
  EXPECT_EQ(port->failure(), "");

  server.hangUp();
  server.stopListening();
  EXPECT_EQ(port->read(answer, 6), 0u);
  EXPECT_FALSE(port->open(url));
  EXPECT_EQ(port->failure(), url +
                                 ": connection lost, and connecting again failed: connection "
                                 "refused (nothing serves that port)");
}

}  // namespace
