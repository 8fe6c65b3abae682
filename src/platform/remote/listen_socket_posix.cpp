#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/remote/listen_socket.h"
#include "platform/remote/socket_connect.h"
#include "platform/system/files_posix.h"

namespace loopmon {
namespace {

constexpr size_t RequestLimit = 8192;
constexpr int RequestWaitMs = 2000;

class PosixListenSocket final : public ListenSocket {
 public:
  explicit PosixListenSocket(std::shared_ptr<Clock> clock) : clock_(std::move(clock)) {}

  SocketFailure listen(const std::string& host, uint16_t port) override {
    const AddressLookup lookup = lookUpAddresses(host, port);
    if (lookup.failure) return lookup.failure;
    SocketFailure failure{SocketError::HostNotFound, {}};
    for (const ResolvedAddress& address : lookup.addresses) {
      posix::UniqueFd fd(::socket(address.family, address.socketType | SOCK_CLOEXEC, 0));
      const int on = 1;
      if (fd.valid()) ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
      if (!fd.valid() ||
          ::bind(fd.get(), reinterpret_cast<const sockaddr*>(address.socketAddress.data()),
                 static_cast<socklen_t>(address.socketAddress.size())) != 0 ||
          ::listen(fd.get(), 8) != 0) {
        failure = {SocketError::Other, std::strerror(errno)};
        continue;
      }
      fd_ = std::move(fd);
      return {};
    }
    return failure;
  }

  uint16_t port() const override {
    sockaddr_storage bound{};
    socklen_t size = sizeof bound;
    if (::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&bound), &size) != 0) return 0;
    if (bound.ss_family == AF_INET6) {
      return ntohs(reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port);
    }
    return ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
  }

  bool serveOne(uint32_t waitMs, const Answer& answer) override {
    pollfd waiting{fd_.get(), POLLIN, 0};
    if (::poll(&waiting, 1, static_cast<int>(waitMs)) <= 0) return false;
    posix::UniqueFd client(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!client.valid()) return false;
    std::string request;
    const auto deadline = clockTime(*clock_) + std::chrono::milliseconds(RequestWaitMs);
    while (request.size() < RequestLimit && request.find("\r\n\r\n") == std::string::npos) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clockTime(*clock_));
      pollfd readable{client.get(), POLLIN, 0};
      if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0) break;
      char block[1024];
      const ssize_t got = ::recv(client.get(), block, sizeof block, 0);
      if (got <= 0) break;
      request.append(block, static_cast<size_t>(got));
    }
    const std::string reply = answer(request);
    size_t sent = 0;
    while (sent < reply.size()) {
      const ssize_t n =
          ::send(client.get(), reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    return true;
  }

 private:
  std::shared_ptr<Clock> clock_;
  posix::UniqueFd fd_;
};

}  // namespace

std::unique_ptr<ListenSocket> makeListenSocket(std::shared_ptr<Clock> clock) {
  return std::make_unique<PosixListenSocket>(std::move(clock));
}

}  // namespace loopmon
