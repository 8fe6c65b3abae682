// `loopsim pty`: the simulated devices on a pseudo-terminal that behaves like
// an RS-485 line at 9600 baud, so the real serial code can be run against them.

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

#include "sim/device_model.h"
#include "sim/frame_finder.h"
#include "sim/front_ends.h"
#include "sim/trace.h"
#include "transport/frame.h"

namespace loopmon::sim {

namespace {

using Steady = std::chrono::steady_clock;

constexpr auto CharacterTime = std::chrono::microseconds(CharacterMicros);
// Bytes that have not made a frame after this much silence on the line are
// dropped: more than the 3.5 characters a device waits before it gives up.
constexpr auto FrameGap = std::chrono::microseconds(5000);
// Garbage kept while waiting for a frame; a frame is never longer.
constexpr size_t MaxHeldBytes = 512;
// How often to look again while no program has the line open.
constexpr auto ClosedLinePause = std::chrono::milliseconds(2);

struct ReceivedByte {
  uint8_t value;
  Steady::time_point onLine;  // when its stop bit would have arrived
};

class Line {
 public:
  explicit Line(const LineOptions& options)
      : bus_(makeResponder(options.scenario, options.replay)), options_(options) {}

  ~Line() {
    if (master_ >= 0) close(master_);
    if (linkMade_) unlink(options_.linkPath.c_str());
  }

  int run() {
    if (!openTerminal()) return 1;
    std::printf("loopsim: line on %s\n", devicePath_.c_str());
    if (!makeLink()) return 1;
    std::fflush(stdout);
    // The line keeps a UART's moments: the kernel must not put off its
    // wake-ups to gather them with others (by 50 us each by default).
    ::prctl(PR_SET_TIMERSLACK, 1, 0, 0, 0);
    const int stopFd = stopSignalDescriptor();

    while (true) {
      sendDue(Steady::now());
      pollfd watched[2] = {{stopFd, POLLIN, 0}, {master_, POLLIN, 0}};
      const auto wake = nextWake();
      timespec timeout{};
      if (wake) {
        const auto wait = std::max(Steady::duration::zero(), *wake - Steady::now());
        const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
        timeout = {static_cast<time_t>(nanos / 1'000'000'000),
                   static_cast<long>(nanos % 1'000'000'000)};
      }
      if (ppoll(watched, 2, wake ? &timeout : nullptr, nullptr) < 0 && errno != EINTR) {
        std::perror("loopsim: poll");
        return 1;
      }
      if (watched[0].revents) break;
      if (watched[1].revents & POLLIN) {
        if (!receive()) lineClosed();
      } else if (watched[1].revents & (POLLHUP | POLLERR)) {
        lineClosed();
      } else {
        // Only once nothing waits to be read: after a stall here, the rest of
        // a frame may be in the terminal already.
        dropStale(Steady::now());
      }
    }
    std::printf("loopsim: stopped\n");
    return 0;
  }

 private:
  bool openTerminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    char name[128];
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof(name)) != 0) {
      std::perror("loopsim: pseudo-terminal");
      return false;
    }
    devicePath_ = name;
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    // Raw from the start, so nothing is translated before the program sets
    // the line up itself.
    termios settings{};
    tcgetattr(master_, &settings);
    cfmakeraw(&settings);
    cfsetspeed(&settings, B9600);
    tcsetattr(master_, TCSANOW, &settings);
    return true;
  }

  bool makeLink() {
    const std::string& link = options_.linkPath;
    if (link.empty()) return true;
    struct stat existing {};
    if (lstat(link.c_str(), &existing) == 0) {
      if (!S_ISLNK(existing.st_mode)) {
        std::fprintf(stderr, "loopsim: %s exists and is not a symbolic link\n", link.c_str());
        return false;
      }
      unlink(link.c_str());
    }
    if (symlink(devicePath_.c_str(), link.c_str()) != 0) {
      std::fprintf(stderr, "loopsim: cannot link %s: %s\n", link.c_str(), std::strerror(errno));
      return false;
    }
    linkMade_ = true;
    std::printf("loopsim: linked as %s\n", link.c_str());
    return true;
  }

  // False when the program's side of the line is closed.
  bool receive() {
    uint8_t chunk[256];
    const ssize_t n = read(master_, chunk, sizeof(chunk));
    if (n < 0) return errno == EAGAIN || errno == EINTR;
    if (n == 0) return false;
    // A converter echoes each byte as it goes out; the terminal has handed
    // the bytes over at once, so they go straight back. Waiting for their
    // wire time here would add the delay of this read on top and bring the
    // echo after the sender has turned the line round.
    if (options_.echo) writeOut(chunk, static_cast<size_t>(n));
    const auto now = Steady::now();
    for (ssize_t i = 0; i < n; ++i) {
      // On the wire each byte takes a character time after the one before.
      lineFreeAt_ = std::max(now, lineFreeAt_) + CharacterTime;
      received_.push_back({chunk[i], lineFreeAt_});
    }
    takeFrames();
    if (received_.size() > MaxHeldBytes) discard(received_.size() - MaxHeldBytes);
    return true;
  }

  void lineClosed() {
    // What was under way belongs to an exchange that nobody waits for.
    outgoing_.clear();
    received_.clear();
    std::this_thread::sleep_for(ClosedLinePause);
  }

  void takeFrames() {
    while (true) {
      Bytes held;
      for (const ReceivedByte& b : received_) held.push_back(b.value);
      const auto frame = findFrame(held.data(), held.size(), bus_->crcTable());
      if (!frame) return;
      discard(frame->start);
      answer(frame->length);
      received_.erase(received_.begin(),
                      received_.begin() + static_cast<std::ptrdiff_t>(frame->length));
    }
  }

  void answer(size_t length) {
    Bytes request;
    for (size_t i = 0; i < length; ++i) request.push_back(received_[i].value);
    const auto requestEnd = received_[length - 1].onLine;
    if (options_.trace)
      traceLine("-> " + describeFrame(request, FrameRole::Request, bus_->crcTable()));
    const auto reply = bus_->respond(request);
    if (!reply) {
      if (options_.trace) traceLine("<- (no answer)");
      return;
    }
    auto at = requestEnd + std::chrono::microseconds(bus_->replyDelayMicros());
    // Answers leave in the order of their requests: one held back holds back
    // those behind it, as a network holds a stream.
    if (!outgoing_.empty()) at = std::max(at, outgoing_.rbegin()->first);
    for (uint8_t byte : *reply) {
      at += CharacterTime;
      outgoing_.emplace(at, byte);
    }
    if (options_.trace)
      traceLine("<- " + describeFrame(*reply, FrameRole::Answer, bus_->crcTable()));
  }

  void discard(size_t count) {
    if (count == 0) return;
    const bool padding =
        std::all_of(received_.begin(), received_.begin() + static_cast<std::ptrdiff_t>(count),
                    [](const ReceivedByte& b) { return b.value == 0xFF; });
    if (options_.trace && !padding) {
      Bytes garbage;
      for (size_t i = 0; i < count; ++i) garbage.push_back(received_[i].value);
      traceLine("garbage: " + frameHex(garbage));
    }
    received_.erase(received_.begin(), received_.begin() + static_cast<std::ptrdiff_t>(count));
  }

  void dropStale(Steady::time_point now) {
    if (!received_.empty() && now >= received_.back().onLine + FrameGap) discard(received_.size());
  }

  void sendDue(Steady::time_point now) {
    // Like a UART: one character time per byte at least. A loop that woke up
    // late only hands the byte over late: the line went on shifting bits
    // meanwhile, so the next byte's time counts from this one's, or a late
    // wake-up would stretch the rest of the answer by as much.
    if (!outgoing_.empty() && outgoing_.begin()->first <= now && now >= nextCharacterAt_) {
      const auto onLine = std::max(outgoing_.begin()->first, nextCharacterAt_);
      writeOut(&outgoing_.begin()->second, 1);
      outgoing_.erase(outgoing_.begin());
      nextCharacterAt_ = onLine + CharacterTime;
    }
  }

  // What the terminal cannot take is lost, as on a line nobody listens to.
  void writeOut(const uint8_t* bytes, size_t count) {
    [[maybe_unused]] const ssize_t written = write(master_, bytes, count);
  }

  std::optional<Steady::time_point> nextWake() const {
    std::optional<Steady::time_point> wake;
    if (!outgoing_.empty()) wake = std::max(outgoing_.begin()->first, nextCharacterAt_);
    if (!received_.empty()) {
      const auto stale = received_.back().onLine + FrameGap;
      wake = wake ? std::min(*wake, stale) : stale;
    }
    return wake;
  }

  std::unique_ptr<BusResponder> bus_;
  const LineOptions& options_;
  int master_ = -1;
  std::string devicePath_;
  bool linkMade_ = false;
  Steady::time_point lineFreeAt_{};
  Steady::time_point nextCharacterAt_{};
  std::vector<ReceivedByte> received_;
  std::multimap<Steady::time_point, uint8_t> outgoing_;
};

}  // namespace

int playLine(const LineOptions& options) {
  return Line(options).run();
}

}  // namespace loopmon::sim
