#pragma once
// The watch's figures over HTTP: GET /metrics answers in the OpenMetrics
// text format, for Prometheus and whatever else scrapes it. It serves on a
// thread of its own, one client at a time.

#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace loopmon {

class ListenSocket;
class WatchState;

struct MetricsAddress {
  std::string host = "127.0.0.1";
  uint16_t port = 0;
};

// "HOST:PORT", "[IPv6]:PORT", ":PORT" or "PORT" (these two on 127.0.0.1);
// std::invalid_argument saying what is wrong.
MetricsAddress ParseMetricsAddress(const std::string& text);

// The whole HTTP reply to `request`.
std::string MetricsReply(const std::string& request, const WatchState& state);

class MetricsServer {
 public:
  // Listens at once; std::runtime_error naming the address when it cannot.
  MetricsServer(const MetricsAddress& address, const WatchState& state);
  ~MetricsServer();
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  uint16_t port() const;

 private:
  const WatchState& state_;
  std::unique_ptr<ListenSocket> socket_;
  std::atomic<bool> ending_{false};
  std::thread thread_;
};

}  // namespace loopmon
