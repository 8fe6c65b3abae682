// Winsock before the other Windows headers, which would bring the old one.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// The headers show SIO_TCP_INFO only to builds for Windows 10 1703 and later;
// this file asks for it as the program runs and does without where refused.
#define _WIN32_WINNT 0x0A00
#define NTDDI_VERSION 0x0A000003
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, whose types it uses.
#include <mstcpip.h>

#include <chrono>
#include <mutex>

#include "platform/remote/socket_connect.h"
#include "platform/system/deadline.h"
#include "platform/system/windows_api_win32.h"

namespace loopmon {
namespace {

timeval timevalOf(long ms) {
  return timeval{ms / 1000, (ms % 1000) * 1000};
}

// Winsock is started once for the process and left running until it ends.
bool startWinsock() {
  static std::once_flag once;
  static bool started = false;
  std::call_once(once, [] {
    WSADATA data;
    started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  });
  return started;
}

SocketFailure failureOf(int error) {
  switch (error) {
    case WSAECONNREFUSED:
      return {SocketError::Refused, win32::systemMessage(static_cast<DWORD>(error))};
    case WSAETIMEDOUT:
      return {SocketError::TimedOut, win32::systemMessage(static_cast<DWORD>(error))};
    case WSAHOST_NOT_FOUND:
    case WSANO_DATA:
    case WSANO_RECOVERY:
      return {SocketError::HostNotFound, win32::systemMessage(static_cast<DWORD>(error))};
    default:
      return {SocketError::Other, win32::systemMessage(static_cast<DWORD>(error))};
  }
}

// Waits until the socket can be read (`forWriting` false) or written; true
// when it can, or when the wait ended with an error the next call reports.
bool waitFor(SOCKET socket, bool forWriting, long ms) {
  fd_set ready;
  fd_set failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(socket, &ready);
  FD_SET(socket, &failed);
  timeval limit = timevalOf(ms);
  const int n =
      ::select(0, forWriting ? nullptr : &ready, forWriting ? &ready : nullptr, &failed, &limit);
  return n != 0;
}

}  // namespace

AddressLookup lookUpAddresses(const std::string& host, uint16_t port) {
  if (!startWinsock()) return {failureOf(WSAGetLastError()), {}};
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int resolved = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (resolved != 0) {
    SocketFailure failure = failureOf(resolved);
    if (resolved == WSAHOST_NOT_FOUND || resolved == WSANO_DATA || resolved == WSATRY_AGAIN) {
      failure.kind = SocketError::HostNotFound;
    }
    return {failure, {}};
  }
  // The addresses first and the result whole at the end: GCC 12 takes a
  // result built around the call for one whose text may be left unset.
  std::vector<ResolvedAddress> addresses = resolvedAddresses(found);
  ::freeaddrinfo(found);
  return {{}, std::move(addresses)};
}

namespace {

class WinStreamSocket final : public ConnectingSocket {
 public:
  using ConnectingSocket::ConnectingSocket;
  ~WinStreamSocket() override { close(); }

  void close() override {
    if (socket_ == INVALID_SOCKET) return;
    ::closesocket(socket_);
    socket_ = INVALID_SOCKET;
  }

  bool isConnected() const override { return socket_ != INVALID_SOCKET; }

  bool send(const uint8_t* data, size_t count, uint32_t timeoutMs) override {
    const auto deadline = now() + std::chrono::milliseconds(timeoutMs);
    size_t sent = 0;
    while (socket_ != INVALID_SOCKET && sent < count) {
      const int n = ::send(socket_, reinterpret_cast<const char*>(data + sent),
                           static_cast<int>(count - sent), 0);
      if (n > 0) {
        sent += static_cast<size_t>(n);
      } else if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
        if (!waitFor(socket_, true, static_cast<long>(msUntil(deadline, now())))) break;
      } else {
        break;
      }
    }
    if (sent < count) close();
    return sent == count;
  }

  std::optional<size_t> receive(uint8_t* buffer, size_t capacity, uint32_t waitMs) override {
    if (socket_ == INVALID_SOCKET) return std::nullopt;
    if (!waitFor(socket_, false, static_cast<long>(waitMs))) return 0;
    const int n = ::recv(socket_, reinterpret_cast<char*>(buffer), static_cast<int>(capacity), 0);
    if (n > 0) return static_cast<size_t>(n);
    if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) return 0;
    close();
    return std::nullopt;
  }

 private:
  SocketFailure attempt(const ResolvedAddress& address,
                        std::chrono::steady_clock::time_point deadline) override {
    SOCKET s = ::socket(address.family, address.socketType, address.protocol);
    if (s == INVALID_SOCKET) return failureOf(WSAGetLastError());
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    if (::connect(s, reinterpret_cast<const sockaddr*>(address.socketAddress.data()),
                  static_cast<int>(address.socketAddress.size())) == SOCKET_ERROR) {
      const int error = WSAGetLastError();
      if (error != WSAEWOULDBLOCK) {
        ::closesocket(s);
        return failureOf(error);
      }
      if (!waitFor(s, true, static_cast<long>(msUntil(deadline, now())))) {
        ::closesocket(s);
        return {SocketError::TimedOut, {}};
      }
      int status = 0;
      int size = sizeof status;
      ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&status), &size);
      if (status != 0) {
        ::closesocket(s);
        return failureOf(status);
      }
    }
    // Frames are a few bytes each and wait for an answer: send them at once.
    const BOOL on = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    socket_ = s;
    return {};
  }

  // SIO_TCP_INFO came with Windows 10 1703; older systems and Wine refuse it,
  // and the line sizes its allowance from the answers' times instead.
  std::optional<uint32_t> roundTripMicros() const override {
    if (socket_ == INVALID_SOCKET) return std::nullopt;
    DWORD version = 0;
    TCP_INFO_v0 info{};
    DWORD size = 0;
    if (::WSAIoctl(socket_, SIO_TCP_INFO, &version, sizeof version, &info, sizeof info, &size,
                   nullptr, nullptr) != 0 ||
        size < sizeof info) {
      return std::nullopt;
    }
    return info.RttUs;
  }

  SOCKET socket_ = INVALID_SOCKET;
};

}  // namespace

std::unique_ptr<StreamSocket> makeStreamSocket(std::shared_ptr<Clock> clock) {
  return std::make_unique<WinStreamSocket>(std::move(clock));
}

}  // namespace loopmon
