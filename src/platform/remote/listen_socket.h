#pragma once
// A TCP server of the smallest kind: it listens on one address and serves
// one connection at a time with one answer, for the watch's metrics. Every
// wait has a limit, so a client that connects and says nothing holds the
// server for a moment only.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/remote/stream_socket.h"

namespace loopmon {

class Clock;

class ListenSocket {
 public:
  // From what the client sent (up to where a request's heading ends) to the
  // bytes sent back.
  using Answer = std::function<std::string(const std::string& request)>;

  virtual ~ListenSocket() = default;
  // Binds to `host` (a name or a numeric address) and `port`, 0 for any free one.
  virtual SocketFailure listen(const std::string& host, uint16_t port) = 0;
  // The port it listens on.
  virtual uint16_t port() const = 0;
  // Waits at most `waitMs` for a client; when one comes, reads its request
  // (at most 8 KB, within 2 s), sends `answer`'s reply and closes. False when
  // no client came.
  virtual bool serveOne(uint32_t waitMs, const Answer& answer) = 0;
};

// Its deadlines run on `clock`.
std::unique_ptr<ListenSocket> makeListenSocket(std::shared_ptr<Clock> clock);

}  // namespace loopmon
