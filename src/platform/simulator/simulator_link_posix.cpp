#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

#include "platform/simulator/simulator_link.h"
#include "platform/simulator/simulator_socket_posix.h"
#include "platform/store/program_folder.h"

namespace loopmon {

namespace {

using SteadyClock = std::chrono::steady_clock;

// The server answers from memory, at once. A simulated device is given what
// the bus gives a real one for a long command (600 ms), plus a margin for a
// loaded machine; a server that takes longer hangs, and waiting for it at
// every attempt of every request would stall a scan for half an hour.
constexpr auto ConnectTimeout = std::chrono::milliseconds(1000);
constexpr auto CallTimeout = std::chrono::milliseconds(1000);

// Rounded up, so that a wait that times out ends at the deadline, not before.
int remainingMs(SteadyClock::time_point deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

bool waitFor(int fd, short events, SteadyClock::time_point deadline) {
  while (true) {
    pollfd entry{fd, events, 0};
    const int ready = poll(&entry, 1, remainingMs(deadline));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

// Returns a connected non-blocking socket, or -1 with errno set.
int connectTo(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) return fd;
  if (errno == EINPROGRESS || errno == EAGAIN) {
    int error = 0;
    socklen_t size = sizeof(error);
    if (waitFor(fd, POLLOUT, SteadyClock::now() + ConnectTimeout) &&
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0) {
      return fd;
    }
    errno = error ? error : ETIMEDOUT;
  }
  const int saved = errno;
  close(fd);
  errno = saved;
  return -1;
}

class SocketSimulatorObject : public SimulatorObject {
 public:
  SocketSimulatorObject(std::string path, const char* method, int fd)
      : path_(std::move(path)), method_(method), fd_(fd) {}
  ~SocketSimulatorObject() override { disconnect(); }
  SocketSimulatorObject(const SocketSimulatorObject&) = delete;
  SocketSimulatorObject& operator=(const SocketSimulatorObject&) = delete;

  std::string call(const std::string& requestText) override {
    // A connection lost earlier is tried again, so a long-lived worker object
    // recovers when the server comes back.
    if (fd_ < 0) fd_ = connectTo(path_);
    if (fd_ < 0) return "";
    const std::string line = method_ + ' ' + requestText + '\n';
    const auto deadline = SteadyClock::now() + CallTimeout;
    std::optional<std::string> reply;
    if (line.size() <= MaxSimulatorLineBytes && sendAll(line, deadline)) reply = readLine(deadline);
    if (!reply) {
      // A late reply would be taken for the answer to the next call.
      disconnect();
      if (SteadyClock::now() >= deadline) throw SimulatorNotResponding();
      return "";
    }
    return *reply;
  }

 private:
  void disconnect() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  bool sendAll(const std::string& data, SteadyClock::time_point deadline) {
    size_t sent = 0;
    while (sent < data.size()) {
      const ssize_t n = send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
      if (n > 0) {
        sent += static_cast<size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && errno == EAGAIN) {
        if (!waitFor(fd_, POLLOUT, deadline)) return false;
      } else {
        return false;
      }
    }
    return true;
  }

  std::optional<std::string> readLine(SteadyClock::time_point deadline) {
    SimulatorReply reply;
    char chunk[512];
    while (true) {
      const ssize_t n = recv(fd_, chunk, sizeof(chunk), 0);
      if (n > 0) {
        const auto state = reply.take({chunk, static_cast<size_t>(n)});
        if (state == SimulatorReply::State::Whole) return reply.text();
        if (state == SimulatorReply::State::Broken) return std::nullopt;
      } else if (n == 0) {
        return std::nullopt;
      } else if (errno == EAGAIN) {
        if (!waitFor(fd_, POLLIN, deadline)) return std::nullopt;
      } else if (errno != EINTR) {
        return std::nullopt;
      }
    }
  }

  std::string path_;
  std::string method_;
  int fd_;
};

class SocketSimulatorLink : public SimulatorLink {
 public:
  std::unique_ptr<SimulatorObject> create(SimulatorSide side) override {
    const std::string path = simulatorSocketPath();
    if (path.empty()) throw SimulatorUnavailable("no runtime folder for the simulator socket");
    const int fd = connectTo(path);
    if (fd < 0) {
      throw SimulatorUnavailable("cannot reach the simulator server at " + path + ": " +
                                 std::strerror(errno));
    }
    return std::make_unique<SocketSimulatorObject>(path, simulatorMethodName(side), fd);
  }
};

}  // namespace

SimulatorReply::State SimulatorReply::take(std::string_view bytes) {
  if (state_ != State::Incomplete) {
    // Nothing may follow a whole reply.
    if (!bytes.empty()) state_ = State::Broken;
    return state_;
  }
  received_.append(bytes);
  const auto end = received_.find('\n');
  if (end != std::string::npos) {
    state_ =
        end + 1 == received_.size() && end < MaxSimulatorLineBytes ? State::Whole : State::Broken;
    received_.resize(end);
  } else if (received_.size() >= MaxSimulatorLineBytes) {
    state_ = State::Broken;
  }
  return state_;
}

std::string simulatorSocketPath() {
  const std::string folder = runtimeFolder();
  return folder.empty() ? std::string() : folder + "simul.sock";
}

std::shared_ptr<SimulatorLink> makeSimulatorLink() {
  return std::make_shared<SocketSimulatorLink>();
}

}  // namespace loopmon
