#pragma once
// A slow network on the loopback address: a TCP relay in front of a server
// that holds back every chunk, both ways, by a fixed delay and up to half as
// much again at random, keeping the order. One client at a time.

#include <atomic>
#include <chrono>
#include <deque>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include "scripted_server.h"

namespace loopmon::testing {

class DelayingRelay {
 public:
  DelayingRelay(uint16_t serverPort, int delayMs)
      : serverPort_(serverPort), delayMs_(delayMs), accepting_([this] { serve(); }) {}
  ~DelayingRelay() {
    stop_ = true;
    accepting_.join();
  }

  std::string tcpUrl() const { return listener_.url("tcp"); }
  std::string rfc2217Url() const { return listener_.url("rfc2217"); }

 private:
  using Steady = std::chrono::steady_clock;

  void serve() {
    while (!stop_) {
      if (!listener_.accept(50)) continue;
      posix::UniqueFd server(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
      sockaddr_in address{AF_INET, htons(serverPort_), {htonl(INADDR_LOOPBACK)}, {}};
      if (::connect(server.get(), reinterpret_cast<sockaddr*>(&address), sizeof address)) continue;
      std::atomic<bool> closed = false;
      std::jthread up([&] { pass(listener_.connection(), server.get(), closed); });
      pass(server.get(), listener_.connection(), closed);
    }
  }

  // Carries `from`'s bytes to `to`, each chunk when its delay is up, until
  // either end closes.
  void pass(int from, int to, std::atomic<bool>& closed) {
    std::minstd_rand random(static_cast<unsigned>(from));
    std::uniform_int_distribution<int> jitterMicros(0, delayMs_ * 500);
    std::deque<std::pair<Steady::time_point, std::vector<uint8_t>>> held;
    while (!stop_ && !closed) {
      const auto now = Steady::now();
      for (; !held.empty() && held.front().first <= now; held.pop_front()) {
        ::send(to, held.front().second.data(), held.front().second.size(), MSG_NOSIGNAL);
      }
      const int64_t waitMs =
          held.empty()
              ? 20
              : std::chrono::ceil<std::chrono::milliseconds>(held.front().first - now).count();
      pollfd p{from, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(std::min<int64_t>(waitMs, 20))) <= 0) continue;
      uint8_t chunk[512];
      const ssize_t n = ::recv(from, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      // Never before the chunk ahead of it: a network keeps a stream's order.
      const auto due = std::max(held.empty() ? now : held.back().first,
                                now + std::chrono::milliseconds(delayMs_) +
                                    std::chrono::microseconds(jitterMicros(random)));
      held.emplace_back(due, std::vector<uint8_t>(chunk, chunk + n));
    }
    closed = true;
    ::shutdown(to, SHUT_RDWR);
  }

  ScriptedServer listener_;
  uint16_t serverPort_;
  int delayMs_;
  std::atomic<bool> stop_ = false;
  std::jthread accepting_;
};

}  // namespace loopmon::testing
