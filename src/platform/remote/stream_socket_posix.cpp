#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/remote/socket_connect.h"
#include "platform/system/deadline.h"
#include "platform/system/files_posix.h"

namespace loopmon {
namespace {

SocketFailure failureOf(int error) {
  switch (error) {
    case ECONNREFUSED:
      return {SocketError::Refused, std::strerror(error)};
    case ETIMEDOUT:
      return {SocketError::TimedOut, std::strerror(error)};
    default:
      return {SocketError::Other, std::strerror(error)};
  }
}

}  // namespace

AddressLookup lookUpAddresses(const std::string& host, uint16_t port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int resolved = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (resolved != 0) {
    // EAI_AGAIN too: without a reachable name server no name is found either.
    const bool unknown = resolved == EAI_NONAME || resolved == EAI_FAIL || resolved == EAI_NODATA ||
                         resolved == EAI_AGAIN;
    return {{unknown ? SocketError::HostNotFound : SocketError::Other, ::gai_strerror(resolved)},
            {}};
  }
  // The addresses first and the result whole at the end: GCC 12 at -O3 takes
  // a result built around the call for one whose text may be left unset.
  std::vector<ResolvedAddress> addresses = resolvedAddresses(found);
  ::freeaddrinfo(found);
  return {{}, std::move(addresses)};
}

namespace {

class PosixStreamSocket final : public ConnectingSocket {
 public:
  using ConnectingSocket::ConnectingSocket;
  void close() override { fd_.reset(); }
  bool isConnected() const override { return fd_.valid(); }

  bool send(const uint8_t* data, size_t count, uint32_t timeoutMs) override {
    const auto deadline = now() + std::chrono::milliseconds(timeoutMs);
    size_t sent = 0;
    while (fd_.valid() && sent < count) {
      const ssize_t n = ::send(fd_.get(), data + sent, count - sent, MSG_NOSIGNAL);
      if (n > 0) {
        sent += static_cast<size_t>(n);
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        pollfd p{fd_.get(), POLLOUT, 0};
        if (::poll(&p, 1, static_cast<int>(msUntil(deadline, now()))) <= 0) break;
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        break;
      }
    }
    if (sent < count) close();
    return sent == count;
  }

  std::optional<size_t> receive(uint8_t* buffer, size_t capacity, uint32_t waitMs) override {
    if (!fd_.valid()) return std::nullopt;
    pollfd p{fd_.get(), POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(waitMs));
    if (ready == 0 || (ready < 0 && errno == EINTR)) return 0;
    const ssize_t n = ::recv(fd_.get(), buffer, capacity, 0);
    if (n > 0) return static_cast<size_t>(n);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
    close();
    return std::nullopt;
  }

 private:
  SocketFailure attempt(const ResolvedAddress& address,
                        std::chrono::steady_clock::time_point deadline) override {
    posix::UniqueFd fd(
        ::socket(address.family, address.socketType | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) return failureOf(errno);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(address.socketAddress.data()),
                  static_cast<socklen_t>(address.socketAddress.size())) != 0) {
      if (errno != EINPROGRESS) return failureOf(errno);
      pollfd p{fd.get(), POLLOUT, 0};
      if (::poll(&p, 1, static_cast<int>(msUntil(deadline, now()))) <= 0)
        return {SocketError::TimedOut, {}};
      int error = 0;
      socklen_t size = sizeof error;
      ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &size);
      if (error != 0) return failureOf(error);
    }
    // Frames are a few bytes each and wait for an answer: send them at once.
    const int on = 1;
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    fd_ = std::move(fd);
    return {};
  }

  std::optional<uint32_t> roundTripMicros() const override {
    tcp_info info{};
    socklen_t size = sizeof info;
    if (!fd_.valid() || ::getsockopt(fd_.get(), IPPROTO_TCP, TCP_INFO, &info, &size) != 0) {
      return std::nullopt;
    }
    return info.tcpi_rtt;
  }

  posix::UniqueFd fd_;
};

}  // namespace

std::unique_ptr<StreamSocket> makeStreamSocket(std::shared_ptr<Clock> clock) {
  return std::make_unique<PosixStreamSocket>(std::move(clock));
}

}  // namespace loopmon
