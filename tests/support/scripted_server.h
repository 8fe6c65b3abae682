#pragma once
// A TCP server on 127.0.0.1 with a port the system chose, played step by step
// by a test (what it accepts, sends, receives) or flooding its client.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <thread>

#include "platform/remote/telnet_codec.h"
#include "platform/system/files_posix.h"

namespace loopmon::testing {

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

  ~ScriptedServer() { stopFlood(); }

  // The next connection, within `waitMs`; a flood of the one before ends then.
  bool accept(int waitMs = 5000) {
    pollfd p{listener_.get(), POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0) return false;
    stopFlood();
    connection_.reset(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    return connection_.valid();
  }
  void send(const TelnetBytes& bytes) {
    ::send(connection_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
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
  int connection() const { return connection_.get(); }
  void stopListening() { listener_.reset(); }
  // Sends `prefix`, then zeros without pause until the client leaves.
  void flood(const TelnetBytes& prefix) {
    flooder_ = std::thread([this, prefix, fd = connection_.get()] {
      const TelnetBytes zeros(4096, 0);
      ::send(fd, prefix.data(), prefix.size(), MSG_NOSIGNAL);
      while (!stopFlooding_) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 50) > 0 &&
            ::send(fd, zeros.data(), zeros.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
            errno != EAGAIN) {
          return;
        }
      }
    });
  }

 private:
  void stopFlood() {
    stopFlooding_ = true;
    if (flooder_.joinable()) flooder_.join();
    stopFlooding_ = false;
  }

  posix::UniqueFd listener_;
  posix::UniqueFd connection_;
  uint16_t port_ = 0;
  std::thread flooder_;
  std::atomic<bool> stopFlooding_{false};
};

}  // namespace loopmon::testing
