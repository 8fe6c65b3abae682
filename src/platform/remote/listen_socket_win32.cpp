// Winsock before the other Windows headers, which would bring the old one.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <mutex>

#include "platform/remote/listen_socket.h"
#include "platform/remote/socket_connect.h"
#include "platform/system/windows_api_win32.h"

namespace loopmon {
namespace {

constexpr size_t RequestLimit = 8192;
constexpr long RequestWaitMs = 2000;

bool startWinsock() {
  static std::once_flag once;
  static bool started = false;
  std::call_once(once, [] {
    WSADATA data;
    started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  });
  return started;
}

SocketFailure lastFailure() {
  return {SocketError::Other, win32::systemMessage(static_cast<DWORD>(WSAGetLastError()))};
}

bool readable(SOCKET socket, long ms) {
  fd_set ready;
  FD_ZERO(&ready);
  FD_SET(socket, &ready);
  timeval limit{ms / 1000, (ms % 1000) * 1000};
  return select(0, &ready, nullptr, nullptr, &limit) > 0;
}

class Socket {
 public:
  explicit Socket(SOCKET socket = INVALID_SOCKET) : socket_(socket) {}
  ~Socket() {
    if (valid()) closesocket(socket_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  void reset(SOCKET socket) {
    if (valid()) closesocket(socket_);
    socket_ = socket;
  }
  SOCKET get() const { return socket_; }
  SOCKET release() {
    const SOCKET kept = socket_;
    socket_ = INVALID_SOCKET;
    return kept;
  }
  bool valid() const { return socket_ != INVALID_SOCKET; }

 private:
  SOCKET socket_;
};

class Win32ListenSocket final : public ListenSocket {
 public:
  explicit Win32ListenSocket(std::shared_ptr<Clock> clock) : clock_(std::move(clock)) {}

  SocketFailure listen(const std::string& host, uint16_t port) override {
    if (!startWinsock()) return {SocketError::Other, "Winsock cannot be started"};
    const AddressLookup lookup = lookUpAddresses(host, port);
    if (lookup.failure) return lookup.failure;
    SocketFailure failure{SocketError::HostNotFound, {}};
    for (const ResolvedAddress& address : lookup.addresses) {
      Socket candidate(::socket(address.family, address.socketType, address.protocol));
      if (!candidate.valid() ||
          ::bind(candidate.get(), reinterpret_cast<const sockaddr*>(address.socketAddress.data()),
                 static_cast<int>(address.socketAddress.size())) != 0 ||
          ::listen(candidate.get(), 8) != 0) {
        failure = lastFailure();
        continue;
      }
      socket_.reset(candidate.release());
      return {};
    }
    return failure;
  }

  uint16_t port() const override {
    sockaddr_storage bound{};
    int size = sizeof bound;
    if (getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&bound), &size) != 0) return 0;
    if (bound.ss_family == AF_INET6) {
      return ntohs(reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port);
    }
    return ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
  }

  bool serveOne(uint32_t waitMs, const Answer& answer) override {
    if (!readable(socket_.get(), static_cast<long>(waitMs))) return false;
    Socket client(::accept(socket_.get(), nullptr, nullptr));
    if (!client.valid()) return false;
    std::string request;
    const auto deadline = clockTime(*clock_) + std::chrono::milliseconds(RequestWaitMs);
    while (request.size() < RequestLimit && request.find("\r\n\r\n") == std::string::npos) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clockTime(*clock_));
      if (left.count() <= 0 || !readable(client.get(), static_cast<long>(left.count()))) break;
      char block[1024];
      const int got = recv(client.get(), block, sizeof block, 0);
      if (got <= 0) break;
      request.append(block, static_cast<size_t>(got));
    }
    const std::string reply = answer(request);
    size_t sent = 0;
    while (sent < reply.size()) {
      const int n =
          ::send(client.get(), reply.data() + sent, static_cast<int>(reply.size() - sent), 0);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    shutdown(client.get(), SD_SEND);
    return true;
  }

 private:
  std::shared_ptr<Clock> clock_;
  Socket socket_;
};

}  // namespace

std::unique_ptr<ListenSocket> makeListenSocket(std::shared_ptr<Clock> clock) {
  return std::make_unique<Win32ListenSocket>(std::move(clock));
}

}  // namespace loopmon
