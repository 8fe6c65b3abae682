#pragma once
// A TCP connection, the little a remote serial line needs of one: a bounded
// connect, sends and waits for bytes. Every wait has a limit, so a server that
// vanishes without a word never holds the caller.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace loopmon {

class Clock;

enum class SocketError { None, HostNotFound, LookupTimedOut, Refused, TimedOut, Lost, Other };

struct SocketFailure {
  SocketError kind = SocketError::None;
  std::string systemText;  // the operating system's own words, when it gave any
  explicit operator bool() const { return kind != SocketError::None; }
};

class StreamSocket {
 public:
  virtual ~StreamSocket() = default;

  // Resolves `host` (a name or an IPv4/IPv6 address) and connects to the first
  // address that accepts, within `timeoutMs` in all, the lookup included.
  // Closes an earlier connection first.
  virtual SocketFailure connect(const std::string& host, uint16_t port, uint32_t timeoutMs) = 0;
  virtual void close() = 0;
  virtual bool isConnected() const = 0;
  // Sends every byte, waiting at most `timeoutMs` for room; false when the
  // connection is gone or stuck (it is then closed).
  virtual bool send(const uint8_t* data, size_t count, uint32_t timeoutMs) = 0;
  // Waits at most `waitMs` (0: only looks) for bytes and takes up to `capacity`
  // of them. The count taken (0 when none came in time); no value when the
  // other end closed or the connection broke (it is then closed).
  virtual std::optional<size_t> receive(uint8_t* buffer, size_t capacity, uint32_t waitMs) = 0;
  // The round trip the system's TCP has measured on the connection, where it
  // tells.
  virtual std::optional<uint32_t> roundTripMicros() const { return std::nullopt; }
};

// Its deadlines run on `clock`.
std::unique_ptr<StreamSocket> makeStreamSocket(std::shared_ptr<Clock> clock);

}  // namespace loopmon
