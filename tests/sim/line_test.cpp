// `loopsim pty` seen from the program's end of the terminal, byte by byte.

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "line_fixture.h"
#include "transport/frame.h"

using namespace loopmon;
using namespace loopmon::testing;
using Steady = std::chrono::steady_clock;

namespace {

constexpr auto CharacterTime = std::chrono::microseconds(1041);

const char* const Scenario = R"(
[bus]
drift = no
latency-us = 3000
[device 5]
type = 1
version = 105
[device 63]
type = 11
)";

Bytes withChecksum(Bytes frame) {
  frame.push_back(FrameChecksum(frame));
  return frame;
}

const Bytes Presence5 = withChecksum({5, 6, 0, 1, 0, 0});
const Bytes Present5 = withChecksum({5, 5, 2, 0, 0});

// The program's end of the line, raw.
class Terminal {
 public:
  explicit Terminal(const std::string& device) {
    fd_ = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    tcgetattr(fd_, &settings);
    cfmakeraw(&settings);
    tcsetattr(fd_, TCSANOW, &settings);
  }
  ~Terminal() {
    if (fd_ >= 0) close(fd_);
  }
  bool isOpen() const { return fd_ >= 0; }

  void send(const Bytes& bytes) {
    sentAt_ = Steady::now();
    ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Reads until `count` bytes came or nothing more comes within `quiet`.
  Bytes receive(size_t count, std::chrono::milliseconds quiet = std::chrono::milliseconds(2000)) {
    Bytes bytes;
    arrivals_.clear();
    while (bytes.size() < count) {
      pollfd entry{fd_, POLLIN, 0};
      if (poll(&entry, 1, static_cast<int>(quiet.count())) <= 0) break;
      uint8_t chunk[64];
      const ssize_t n = read(fd_, chunk, sizeof(chunk));
      if (n <= 0) break;
      for (ssize_t i = 0; i < n; ++i) {
        bytes.push_back(chunk[i]);
        arrivals_.push_back(Steady::now());
      }
    }
    return bytes;
  }

  // From the last send to the arrival of received byte `index`.
  std::chrono::microseconds arrivalOf(size_t index) const {
    return std::chrono::duration_cast<std::chrono::microseconds>(arrivals_.at(index) - sentAt_);
  }

 private:
  int fd_ = -1;
  Steady::time_point sentAt_;
  std::vector<Steady::time_point> arrivals_;
};

}  // namespace

TEST(LoopsimLine, AnswersAtWireSpeed) {
  SimulatedLine line(Scenario);
  ASSERT_FALSE(line.device().empty());
  Terminal terminal(line.device());
  ASSERT_TRUE(terminal.isOpen());

  terminal.send(Presence5);
  ASSERT_EQ(terminal.receive(6), Present5);
  // Lower bounds only: a slow machine makes the answer later, never earlier.
  const auto requestOnWire = 7 * CharacterTime;
  const auto latency = std::chrono::microseconds(3000);
  EXPECT_GE(terminal.arrivalOf(0), requestOnWire + latency + CharacterTime);
  std::printf(
      "[ figures  ] presence to 5: first answer byte after %lld us, last after %lld us (wire ideal "
      "%lld / %lld us)\n",
      static_cast<long long>(terminal.arrivalOf(0).count()),
      static_cast<long long>(terminal.arrivalOf(5).count()),
      static_cast<long long>((requestOnWire + latency + CharacterTime).count()),
      static_cast<long long>((requestOnWire + latency + 6 * CharacterTime).count()));

  terminal.send(withChecksum({63, 6, 0, 13, 0, 0}));
  EXPECT_EQ(terminal.receive(6), withChecksum({63, 5, 0, 11, 100}));
}

TEST(LoopsimLine, PaddingGarbageAndBrokenFrames) {
  SimulatedLine line(Scenario);
  Terminal terminal(line.device());
  ASSERT_TRUE(terminal.isOpen());

  // The padded send: frame, checksum, 0xFF, then one more 0xFF.
  Bytes padded = Presence5;
  padded.push_back(0xFF);
  terminal.send(padded);
  terminal.send({0xFF});
  EXPECT_EQ(terminal.receive(6), Present5);

  Bytes noisy{0x00, 0x13, 0x05, 0x06};
  noisy.insert(noisy.end(), Presence5.begin(), Presence5.end());
  terminal.send(noisy);
  EXPECT_EQ(terminal.receive(6), Present5) << "found behind garbage";

  Bytes broken = Presence5;
  broken.back() ^= 0x40;
  terminal.send(broken);
  EXPECT_EQ(terminal.receive(6, std::chrono::milliseconds(100)), Bytes{}) << "bad checksum";

  // A Length byte that promises more than ever comes: dropped after the gap.
  terminal.send({0x05, 0xC8, 0x00});
  EXPECT_EQ(terminal.receive(6, std::chrono::milliseconds(100)), Bytes{});
  terminal.send(Presence5);
  EXPECT_EQ(terminal.receive(6), Present5);

  // A frame written in two pieces, as the timed send does.
  terminal.send(Bytes(Presence5.begin(), Presence5.end() - 1));
  terminal.send({Presence5.back()});
  EXPECT_EQ(terminal.receive(6), Present5);

  terminal.send(withChecksum({9, 6, 0, 1, 0, 0}));
  EXPECT_EQ(terminal.receive(6, std::chrono::milliseconds(100)), Bytes{}) << "nobody at 9";
}

TEST(LoopsimLine, EchoLikeAConverter) {
  SimulatedLine line(Scenario, {"--echo"});
  Terminal terminal(line.device());
  ASSERT_TRUE(terminal.isOpen());
  terminal.send(Presence5);
  Bytes expected = Presence5;
  expected.insert(expected.end(), Present5.begin(), Present5.end());
  EXPECT_EQ(terminal.receive(13), expected);
  EXPECT_GE(terminal.arrivalOf(7), 7 * CharacterTime) << "the answer still waits for the wire";
}

TEST(LoopsimLine, ReopenedLinkedAndStopped) {
  PrivateRuntimeFolder folder;
  const std::string link = folder.path() + "/rs485";
  SimulatedLine line(Scenario, {"--link", link});
  ASSERT_FALSE(line.device().empty());
  EXPECT_EQ(line.process().readLine(), "loopsim: linked as " + link);
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof(target) - 1), 0);
  EXPECT_EQ(std::string(target), line.device());

  // The program closes the port and opens it again, as a port change does.
  for (int round = 0; round < 3; ++round) {
    Terminal terminal(link);
    ASSERT_TRUE(terminal.isOpen());
    terminal.send(Presence5);
    EXPECT_EQ(terminal.receive(6), Present5) << "round " << round;
  }
  EXPECT_EQ(line.process().stop(), 0);
  struct stat status {};
  EXPECT_NE(lstat(link.c_str(), &status), 0) << "link removed";
}
