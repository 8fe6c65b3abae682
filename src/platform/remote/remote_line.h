#pragma once
// Serial lines behind a network server: "rfc2217://HOST:PORT" (telnet with the
// COM port option, RFC 2217) or "tcp://HOST:PORT" (the line's bytes as they
// are). Such a name stands wherever a port is named, directly or as the
// device a COMn name is mapped to.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/remote/stream_socket.h"
#include "platform/serial/serial_port.h"
#include "platform/system/clock.h"

namespace loopmon {

enum class RemoteProtocol { Rfc2217, RawTcp };

struct RemoteLineAddress {
  RemoteProtocol protocol = RemoteProtocol::Rfc2217;
  std::string host;  // without the brackets of an IPv6 address
  uint16_t port = 0;
  // The name as it is written: "rfc2217://host:port".
  std::string text() const;
};

// The address in a remote line name; no value and the reason in `problem` when
// the rest of the name is not HOST:PORT with a port of 1..65535.
std::optional<RemoteLineAddress> parseRemoteLine(const std::string& name, std::string& problem);

// Bounds of the work on the network, so that no call waits on a server that is
// gone: the connect, the telnet negotiation after it, a send, and any read
// whose time-outs set no limit.
inline constexpr uint32_t RemoteConnectTimeoutMs = 3000;
inline constexpr uint32_t RemoteNegotiationTimeoutMs = 2000;
inline constexpr uint32_t RemoteSendTimeoutMs = 2000;
inline constexpr uint32_t RemoteLongestReadMs = 10000;
// A server that has just started, or still lets go of the line's previous
// client, may take a connection and close it at once (ser2net: "Port's
// device already in use", for some 60 ms after a client leaves). A new
// connection is watched for RemoteSettleMs; one closed in that time is made
// again, for RemoteBusyServerMs at most.
inline constexpr uint32_t RemoteSettleMs = 30;
inline constexpr uint32_t RemoteBusyServerMs = 2000;
// What a remote line may bring. A bus at 9600 baud carries under a kilobyte a
// second, and an answer has at most 31 bytes. A server that sends
// RemoteFloodBytes more than twice that pace allows, counted from the
// connection's start, is not passing on a bus: the connection is dropped.
// Data waiting to be read is held up to RemoteQueueBytes (more is a flood
// too), and a purge takes what arrives for at most RemotePurgeLongestMs.
inline constexpr size_t RemoteQueueBytes = 4096;
inline constexpr size_t RemoteFloodBytes = 16 * 1024;
inline constexpr size_t RemoteLinePaceBytesPerSecond = 2 * 1024;
inline constexpr uint32_t RemotePurgeLongestMs = 250;

// How long a new connection is watched, and made again while it is closed at
// once. An in-memory server, which takes no time, needs far less.
struct RemoteSettling {
  uint32_t settleMs = RemoteSettleMs;
  uint32_t busyServerMs = RemoteBusyServerMs;
};

// A port on a remote line, over connections that `makeSocket` gives, timed and
// waiting on `clock`. It opens remote line names only. After a lost connection
// it reports itself closed, so the next exchange connects again.
std::unique_ptr<SerialPort> makeRemoteLinePort(
    std::shared_ptr<Clock> clock, std::function<std::unique_ptr<StreamSocket>()> makeSocket,
    RemoteSettling settling = {});

}  // namespace loopmon
