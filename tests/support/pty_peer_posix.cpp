#include "pty_peer_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace loopmon::testing {

namespace {

constexpr std::chrono::microseconds CharacterTime{1041};
constexpr uint8_t Padding = 0xFF;

void makeRaw(int fd) {
  termios settings{};
  if (::tcgetattr(fd, &settings) != 0) return;
  ::cfmakeraw(&settings);
  ::tcsetattr(fd, TCSANOW, &settings);
}

[[noreturn]] void fail(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

PtyPeer::PtyPeer(Responder responder, std::chrono::microseconds answerDelay)
    : responder_(std::move(responder)), answerDelay_(answerDelay) {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) fail("posix_openpt");
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) fail("grantpt/unlockpt");
  char name[128];
  if (::ptsname_r(master_, name, sizeof name) != 0) fail("ptsname_r");
  path_ = name;
  terminal_ = ::open(name, O_RDWR | O_NOCTTY);
  if (terminal_ < 0) fail("open terminal side");
  makeRaw(terminal_);
  if (::pipe(wake_) != 0) fail("pipe");
  thread_ = std::thread([this] { run(); });
}

PtyPeer::~PtyPeer() {
  const char stop = 1;
  (void)!::write(wake_[1], &stop, 1);
  thread_.join();
  for (int fd : {master_, terminal_, wake_[0], wake_[1]}) ::close(fd);
}

std::vector<Bytes> PtyPeer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void PtyPeer::answer(const Bytes& request, std::chrono::steady_clock::time_point firstByte) {
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
  }
  std::optional<Bytes> reply = responder_(request);
  if (!reply) return;
  // The writes reach the master at once; the wire would take its time.
  std::this_thread::sleep_until(firstByte + CharacterTime * static_cast<int>(request.size()) +
                                answerDelay_);
  (void)!::write(master_, reply->data(), reply->size());
}

void PtyPeer::run() {
  Bytes pending;
  std::chrono::steady_clock::time_point firstByte;
  while (true) {
    pollfd fds[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    uint8_t buffer[512];
    const ssize_t got = ::read(master_, buffer, sizeof buffer);
    if (got <= 0) continue;
    const auto now = std::chrono::steady_clock::now();
    for (ssize_t i = 0; i < got; ++i) {
      // Padding after a frame is line noise to a device.
      if (pending.empty() && buffer[i] == Padding) continue;
      if (pending.empty()) firstByte = now;
      pending.push_back(buffer[i]);
      if (pending.size() >= 2 && pending.size() == size_t{pending[1]} + 1) {
        answer(pending, firstByte);
        pending.clear();
      }
    }
  }
}

}  // namespace loopmon::testing
