// `loopsim serve`: the simulator server behind SimulatorLink. Holds the marker
// "SIMUL", which puts sessions started meanwhile into simulator mode, and
// answers both sides' calls on the socket until it is stopped.

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "platform/simulator/simulator_socket_posix.h"
#include "platform/store/program_folder.h"
#include "platform/system/named_marker.h"
#include "sim/device_model.h"
#include "sim/front_ends.h"
#include "sim/socket_calls.h"

namespace loopmon::sim {

namespace {

using SteadyClock = std::chrono::steady_clock;

// A client that stops reading its answers is dropped rather than buffered without end.
constexpr size_t MaxPendingOutputBytes = 64 * 1024;
// Served at once; further clients wait in the listen queue until one leaves,
// so a flood of connections can neither exhaust the descriptors nor starve
// the clients being served.
constexpr size_t MaxClients = 64;
// When accept fails for want of descriptors or memory, the listener is left
// alone this long; watched meanwhile, it would wake the loop at once, for ever.
constexpr auto AcceptPause = std::chrono::milliseconds(100);

struct Client {
  int fd = -1;
  CallStream calls;
  std::string output;
};

class Server {
 public:
  explicit Server(const ServeOptions& options)
      : bus_(makeResponder(options.scenario, options.replay)), calls_(*bus_, options.trace) {}

  ~Server() {
    for (auto& client : clients_) close(client.fd);
    if (listener_ >= 0) {
      close(listener_);
      // Only the holder of the ownership marker got this far: the socket is its own.
      unlink(path_.c_str());
    }
  }

  int run() {
    path_ = simulatorSocketPath();
    if (path_.empty()) {
      std::fprintf(stderr, "loopsim: no runtime folder for the socket (XDG_RUNTIME_DIR)\n");
      return 1;
    }
    // One server owns the socket: two started together would each replace
    // it, and the first to end would remove the other's.
    bool ownerExisted = false;
    ownership_ = markers_->create(ServerMarker, ownerExisted);
    if (!ownership_ || ownerExisted) {
      std::fprintf(stderr, "loopsim: a simulator server already runs at %s\n", path_.c_str());
      return 1;
    }
    // Listening before the marker appears, so a session that finds the
    // marker also finds the server; the marker goes first at the end.
    if (!listen()) return 1;
    bool markerExisted = false;
    auto marker = markers_->create("SIMUL", markerExisted);
    if (!marker) {
      std::fprintf(stderr, "loopsim: cannot create the marker \"SIMUL\"\n");
      return 1;
    }
    const int stopFd = stopSignalDescriptor();
    std::printf("loopsim: serving on %s\n", path_.c_str());
    std::fflush(stdout);

    while (true) {
      // A listener not watched is left out of poll by a negative descriptor.
      const bool accepting =
          clients_.size() < MaxClients && SteadyClock::now() >= acceptPausedUntil_;
      std::vector<pollfd> watched{{stopFd, POLLIN, 0}, {accepting ? listener_ : -1, POLLIN, 0}};
      for (const auto& client : clients_) {
        watched.push_back(
            {client.fd, static_cast<short>(POLLIN | (client.output.empty() ? 0 : POLLOUT)), 0});
      }
      if (poll(watched.data(), watched.size(), pollTimeoutMs()) < 0) {
        if (errno == EINTR) continue;
        std::perror("loopsim: poll");
        return 1;
      }
      if (watched[0].revents) break;
      if (watched[1].revents & POLLIN) acceptClient();
      auto entry = watched.begin() + 2;
      for (auto client = clients_.begin(); entry != watched.end(); ++entry) {
        // Clients accepted during this round are not in `watched` yet.
        if (client->fd != entry->fd) break;
        client = serve(*client, entry->revents) ? std::next(client) : dropClient(client);
      }
    }
    std::printf("loopsim: stopped\n");
    return 0;
  }

 private:
  static constexpr const char* ServerMarker = "SIMUL.server";

  // Until a pause of accepting ends; otherwise no limit.
  int pollTimeoutMs() const {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(acceptPausedUntil_ - SteadyClock::now());
    return left.count() > 0 && clients_.size() < MaxClients ? static_cast<int>(left.count()) : -1;
  }

  sockaddr_un socketAddress() const {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", path_.c_str());
    return address;
  }

  bool listen() {
    if (path_.size() >= sizeof(sockaddr_un::sun_path)) {
      std::fprintf(stderr, "loopsim: socket path too long: %s\n", path_.c_str());
      return false;
    }
    // Left behind by a server that did not end cleanly (this one owns the name).
    unlink(path_.c_str());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address = socketAddress();
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(fd, 64) != 0) {
      std::fprintf(stderr, "loopsim: cannot listen on %s: %s\n", path_.c_str(),
                   std::strerror(errno));
      if (fd >= 0) close(fd);
      return false;
    }
    listener_ = fd;
    return true;
  }

  void acceptClient() {
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
      clients_.push_back(Client{fd, {}, {}});
    } else if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      acceptPausedUntil_ = SteadyClock::now() + AcceptPause;
    }
  }

  std::list<Client>::iterator dropClient(std::list<Client>::iterator client) {
    close(client->fd);
    return clients_.erase(client);
  }

  // False when the client is gone or has to be dropped.
  bool serve(Client& client, short events) {
    if (events & (POLLIN | POLLHUP | POLLERR)) {
      char chunk[4096];
      const ssize_t n = recv(client.fd, chunk, sizeof(chunk), 0);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return false;
      if (n > 0) client.output += calls_.receive(client.calls, {chunk, static_cast<size_t>(n)});
    }
    if (!client.output.empty()) {
      const ssize_t n = send(client.fd, client.output.data(), client.output.size(), MSG_NOSIGNAL);
      if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
      if (n > 0) client.output.erase(0, static_cast<size_t>(n));
    }
    return client.output.size() <= MaxPendingOutputBytes;
  }

  std::unique_ptr<BusResponder> bus_;
  SocketCalls calls_;
  std::unique_ptr<MarkerService> markers_ = makeMarkerService(runtimeFolder);
  std::unique_ptr<MarkerHold> ownership_;
  std::string path_;
  int listener_ = -1;
  std::list<Client> clients_;
  SteadyClock::time_point acceptPausedUntil_;
};

}  // namespace

int serveSimulator(const ServeOptions& options) {
  return Server(options).run();
}

}  // namespace loopmon::sim
