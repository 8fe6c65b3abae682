// The remote line on Winsock: the round trip from SIO_TCP_INFO where the
// system has it (Windows 10 1703 and later), the answers' times where it has
// not (older systems, Wine). Either way the line leaves the ceiling once it has
// answered and learns from an answer that came after its try gave up.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/remote/remote_line.h"

using namespace loopmon;

namespace {

using Bytes = std::vector<uint8_t>;

// A server on 127.0.0.1 that the test plays step by step, one client at a time.
class LoopbackServer {
 public:
  LoopbackServer() {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size);
    ::listen(listener_, 4);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
  }
  ~LoopbackServer() {
    if (client_ != INVALID_SOCKET) ::closesocket(client_);
    ::closesocket(listener_);
    ::WSACleanup();
  }
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  std::string url() const { return "tcp://127.0.0.1:" + std::to_string(port_); }
  bool accept() {
    if (!readable(listener_, 5000)) return false;
    client_ = ::accept(listener_, nullptr, nullptr);
    return client_ != INVALID_SOCKET;
  }
  // Exactly `count` bytes, or what came within two seconds.
  Bytes receive(size_t count) {
    Bytes bytes(count);
    size_t got = 0;
    while (got < count && readable(client_, 2000)) {
      const int n = ::recv(client_, reinterpret_cast<char*>(bytes.data() + got),
                           static_cast<int>(count - got), 0);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    return bytes;
  }
  void send(const Bytes& bytes) {
    ::send(client_, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0);
  }

 private:
  static bool readable(SOCKET socket, long ms) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(socket, &ready);
    timeval limit{ms / 1000, (ms % 1000) * 1000};
    return ::select(0, &ready, nullptr, nullptr, &limit) > 0;
  }

  SOCKET listener_ = INVALID_SOCKET;
  SOCKET client_ = INVALID_SOCKET;
  uint16_t port_ = 0;
};

TEST(RemoteLineWin32, AllowanceFromTheSystemOrTheAnswers) {
  using namespace std::chrono;
  LoopbackServer server;
  StreamSocket* connection = nullptr;
  auto port = makeRemoteLinePort(systemClock(), [&connection] {
    std::unique_ptr<StreamSocket> socket = makeStreamSocket(systemClock());
    connection = socket.get();
    return socket;
  });
  auto opened = std::async(std::launch::async, [&] { return port->open(server.url()); });
  ASSERT_TRUE(server.accept());
  ASSERT_TRUE(opened.get()) << port->failure();
  const std::optional<uint32_t> roundTrip = connection->roundTripMicros();
  if (roundTrip) {
    std::printf("SIO_TCP_INFO: round trip %u us\n", *roundTrip);
    EXPECT_LT(*roundTrip, 1'000'000u) << "the loopback address";
  } else {
    std::printf("SIO_TCP_INFO: refused; the answers' times size the allowance\n");
  }

  const Bytes request{9, 6, 0, 0x21, 0, 0, 0x41}, answer{9, 5, 0, 0x21, 0x64, 0x99};
  // A local line's 30 ms and the allowance; the answer sent `answerMs` after
  // the request reached the server, never when negative.
  auto tryOnce = [&](int answerMs) {
    port->setTimeouts({0, 0, 30 + port->networkAllowanceMs(50), 0, 0});
    port->purge(PurgeAction::RxClear);
    port->requestGoesOut(request.data(), request.size(), true);
    port->write(request.data(), request.size());
    EXPECT_EQ(server.receive(request.size()), request);
    if (answerMs >= 0) {
      std::this_thread::sleep_for(milliseconds(answerMs));
      server.send(answer);
    }
    Bytes got(answer.size());
    got.resize(port->read(got.data(), got.size()));
    return got;
  };

  EXPECT_EQ(port->networkAllowanceMs(50), 50u) << "until the line has answered";
  EXPECT_EQ(tryOnce(5), answer);
  EXPECT_LT(port->networkAllowanceMs(50), 20u) << "the loopback address";
  EXPECT_EQ(tryOnce(-1), Bytes{});
  // The try's answer comes 50 ms after it gave up, before the retry goes out:
  // the retry's purge takes it, and with it the news that it was late.
  std::this_thread::sleep_for(milliseconds(50));
  server.send(answer);
  EXPECT_EQ(tryOnce(0), answer);
  EXPECT_GE(port->networkAllowanceMs(50), 45u) << "what the late answer needed";
}

}  // namespace
