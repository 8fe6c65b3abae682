#pragma once
// ser2net (the Debian package) serving a serial device on 127.0.0.1 twice:
// as RFC 2217 (telnet with the COM port option) and as a raw TCP port. The
// ports are ones the system had free; a restart after kill() keeps them, so a
// client can come back to the same line.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "loopsim_process.h"
#include "platform/remote/stream_socket.h"
#include "platform/system/clock.h"
#include "platform/system/files_posix.h"

namespace loopmon::testing {

class Ser2netProcess {
 public:
  Ser2netProcess(std::string binary, std::string device)
      : binary_(std::move(binary)), device_(std::move(device)) {}

  // Starts it and waits until both ports take connections; false when it does
  // not come up (a first start tries other ports a few times).
  bool start() {
    for (int attempt = 0; attempt < (rfc2217Port_ ? 1 : 3); ++attempt) {
      if (!rfc2217Port_ || attempt > 0) {
        rfc2217Port_ = freePort();
        tcpPort_ = freePort();
      }
      // No configuration file, no UUCP lock files, in the foreground.
      process_ = std::make_unique<LoopsimProcess>(
          binary_,
          std::vector<std::string>{"-n", "-u", "-c", "/dev/null", "-Y",
                                   connection("rfc2217", "telnet(rfc2217),tcp", rfc2217Port_), "-Y",
                                   connection("raw", "tcp", tcpPort_)});
      if (accepts(rfc2217Port_) && accepts(tcpPort_)) return true;
      process_.reset();
    }
    return false;
  }

  void kill() {
    if (process_) process_->kill();
    process_.reset();
  }

  std::string rfc2217Url() const { return "rfc2217://127.0.0.1:" + std::to_string(rfc2217Port_); }
  std::string tcpUrl() const { return "tcp://127.0.0.1:" + std::to_string(tcpPort_); }
  uint16_t tcpPort() const { return tcpPort_; }
  uint16_t rfc2217Port() const { return rfc2217Port_; }

 private:
  std::string connection(const std::string& name, const std::string& accepter,
                         uint16_t port) const {
    return "connection: &" + name + "#  accepter: " + accepter + ",127.0.0.1," +
           std::to_string(port) + "#  connector: serialdev," + device_ + ",9600n81,local";
  }

  // A port the system hands out for the asking; free again once closed.
  static uint16_t freePort() {
    posix::UniqueFd probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(probe.get(), reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(probe.get(), reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
  }

  static bool accepts(uint16_t port) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
      if (!makeStreamSocket(systemClock())->connect("127.0.0.1", port, 200)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  std::string binary_;
  std::string device_;
  uint16_t rfc2217Port_ = 0;
  uint16_t tcpPort_ = 0;
  std::unique_ptr<LoopsimProcess> process_;
};

}  // namespace loopmon::testing
