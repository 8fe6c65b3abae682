#include "platform/remote/socket_connect.h"

#include "platform/remote/bounded_call.h"

namespace loopmon {

SocketFailure ConnectingSocket::connect(const std::string& host, uint16_t port,
                                        uint32_t timeoutMs) {
  close();
  const auto deadline = now() + std::chrono::milliseconds(timeoutMs);
  if (host != host_ || port != port_ || addresses_.empty()) {
    addresses_.clear();
    const std::optional<AddressLookup> lookup = resultBefore<AddressLookup>(
        [host, port] { return lookUpAddresses(host, port); }, deadline - now());
    if (!lookup) return {SocketError::LookupTimedOut, {}};
    if (lookup->failure) return lookup->failure;
    host_ = host;
    port_ = port;
    addresses_ = lookup->addresses;
  }
  SocketFailure failure{SocketError::TimedOut, {}};
  for (size_t i = 0; i < addresses_.size(); ++i) {
    const auto start = now();
    if (start >= deadline) break;
    failure = attempt(addresses_[i], start + (deadline - start) / (addresses_.size() - i));
    if (!failure) return failure;
  }
  // The host may have moved: the next connect looks it up again.
  addresses_.clear();
  return failure;
}

}  // namespace loopmon
