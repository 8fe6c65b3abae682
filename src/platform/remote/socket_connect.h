#pragma once
// What the stream sockets of both systems share: the name lookup within the
// connect's time limit, kept for the next connect to the same place, and that
// time shared among the addresses found.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/remote/clock_time.h"
#include "platform/remote/stream_socket.h"

namespace loopmon {

// One address of a lookup, as the system gave it (a sockaddr of `family`).
struct ResolvedAddress {
  int family = 0;
  int socketType = 0;
  int protocol = 0;
  std::vector<uint8_t> socketAddress;
};

struct AddressLookup {
  SocketFailure failure;  // HostNotFound or Other with the system's words
  std::vector<ResolvedAddress> addresses;
};

// The addresses of a system's lookup list (its addrinfo), in its order.
template <typename AddressInfo>
std::vector<ResolvedAddress> resolvedAddresses(const AddressInfo* list) {
  std::vector<ResolvedAddress> addresses;
  for (const AddressInfo* a = list; a; a = a->ai_next) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(a->ai_addr);
    addresses.push_back(
        {a->ai_family, a->ai_socktype, a->ai_protocol, {bytes, bytes + a->ai_addrlen}});
  }
  return addresses;
}

// The system's lookup of `host` (a name or a numeric address), for a TCP
// connection to `port`. It may block for long: ConnectingSocket runs it on a
// thread of its own, which may outlive the socket. Defined per system.
AddressLookup lookUpAddresses(const std::string& host, uint16_t port);

class ConnectingSocket : public StreamSocket {
 public:
  explicit ConnectingSocket(std::shared_ptr<Clock> clock) : clock_(std::move(clock)) {}
  // Looks the host up (unless the last connect to the same host and port went
  // through), then tries each address in turn, each with an equal share of the
  // time left, so that one that never answers cannot spend it all.
  SocketFailure connect(const std::string& host, uint16_t port, uint32_t timeoutMs) final;

 protected:
  // Connects to one address by `deadline`; on success the socket is connected.
  virtual SocketFailure attempt(const ResolvedAddress& address,
                                std::chrono::steady_clock::time_point deadline) = 0;

  std::chrono::steady_clock::time_point now() const { return clockTime(*clock_); }

 private:
  std::shared_ptr<Clock> clock_;
  std::string host_;
  uint16_t port_ = 0;
  std::vector<ResolvedAddress> addresses_;  // of host_ and port_; empty: look up
};

}  // namespace loopmon
