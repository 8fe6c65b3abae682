#include "watch/metrics_server.h"

#include "platform/remote/listen_socket.h"
#include "platform/system/clock.h"
#include "watch/watch_state.h"

namespace loopmon {

MetricsAddress ParseMetricsAddress(const std::string& text) {
  MetricsAddress address;
  std::string port = text;
  const size_t colon = text.rfind(':');
  if (colon != std::string::npos) {
    std::string host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
      host = host.substr(1, host.size() - 2);
    }
    if (!host.empty()) address.host = host;
    port = text.substr(colon + 1);
  }
  const bool digits = !port.empty() && port.size() <= 5 &&
                      port.find_first_not_of("0123456789") == std::string::npos;
  if (!digits || std::stoi(port) < 1 || std::stoi(port) > 65535) {
    throw std::invalid_argument("'" + text + "' is not HOST:PORT with a port 1..65535");
  }
  address.port = static_cast<uint16_t>(std::stoi(port));
  return address;
}

std::string MetricsReply(const std::string& request, const WatchState& state) {
  const size_t lineEnd = request.find("\r\n");
  const std::string line = request.substr(0, lineEnd);
  auto reply = [](const std::string& status, const std::string& type, const std::string& body) {
    return "HTTP/1.1 " + status + "\r\nContent-Type: " + type +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
           body;
  };
  if (line.rfind("GET ", 0) != 0) {
    return reply("405 Method Not Allowed", "text/plain; charset=utf-8", "GET only\n");
  }
  const size_t pathEnd = line.find(' ', 4);
  std::string path = line.substr(4, pathEnd == std::string::npos ? std::string::npos : pathEnd - 4);
  path = path.substr(0, path.find('?'));
  if (path != "/metrics") {
    return reply("404 Not Found", "text/plain; charset=utf-8", "the figures are at /metrics\n");
  }
  return reply("200 OK", "application/openmetrics-text; version=1.0.0; charset=utf-8",
               state.openMetrics());
}

MetricsServer::MetricsServer(const MetricsAddress& address, const WatchState& state)
    : state_(state), socket_(makeListenSocket(systemClock())) {
  if (const SocketFailure failure = socket_->listen(address.host, address.port)) {
    throw std::runtime_error("--metrics: cannot listen on " + address.host + ":" +
                             std::to_string(address.port) + ": " + failure.systemText);
  }
  thread_ = std::thread([this] {
    while (!ending_) {
      socket_->serveOne(
          200, [this](const std::string& request) { return MetricsReply(request, state_); });
    }
  });
}

MetricsServer::~MetricsServer() {
  ending_ = true;
  thread_.join();
}

uint16_t MetricsServer::port() const {
  return socket_->port();
}

}  // namespace loopmon
