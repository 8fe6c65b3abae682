// The serial port on a real pseudo-terminal: the test plays the far end of the
// line on the master side, the port under test opens the slave device.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "platform/serial/port_names.h"
#include "platform/serial/serial_port.h"
#include "platform/store/registry.h"
#include "scoped_temp_dir.h"

namespace loopmon {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using Plan = std::vector<std::pair<milliseconds, std::string>>;
constexpr uint32_t Max = 0xFFFFFFFF;

class SerialPortOnPty : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(::grantpt(master_), 0);
    ASSERT_EQ(::unlockpt(master_), 0);
    device_ = ::ptsname(master_);
    ASSERT_TRUE(port_->open(device_));
  }
  void TearDown() override {
    port_->close();
    if (master_ >= 0) ::close(master_);
  }

  // The far end writes each part after its delay, from a child process, while
  // the test reads; returns what the read got and the time it took.
  std::pair<std::string, milliseconds> readWhileSending(const CommTimeouts& timeouts,
                                                        const Plan& plan) {
    EXPECT_TRUE(port_->setTimeouts(timeouts));
    const pid_t writer = ::fork();
    if (writer == 0) {
      for (const auto& [delay, bytes] : plan) {
        std::this_thread::sleep_for(delay);
        if (::write(master_, bytes.data(), bytes.size()) < 0) ::_exit(1);
      }
      ::_exit(0);
    }
    std::string buffer(6, '\0');
    const auto start = std::chrono::steady_clock::now();
    buffer.resize(port_->read(reinterpret_cast<uint8_t*>(buffer.data()), buffer.size()));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ::waitpid(writer, nullptr, 0);
    return {buffer, std::chrono::duration_cast<milliseconds>(elapsed)};
  }

  int master_ = -1;
  std::string device_;
  std::unique_ptr<SerialPort> port_ = makeSerialPort();
};

TEST_F(SerialPortOnPty, LineParametersReadBackAsSetAndImpossibleOnesAreRefused) {
  // A pseudo-terminal keeps 8 bits without parity whatever it is told; the
  // speed, the stop bits and the automatic line modes read back.
  CommState back;
  ASSERT_TRUE(port_->setState({19200, 8, 0, 2, true, true, false}));
  ASSERT_TRUE(port_->getState(back));
  EXPECT_EQ(back.baudRate, 19200u);
  EXPECT_EQ(back.stopBits, 2);
  EXPECT_TRUE(back.dtrControlAuto && back.rtsControlAuto);
  ASSERT_TRUE(port_->setState({9600, 8, 0, 0}));
  ASSERT_TRUE(port_->getState(back));
  EXPECT_EQ(back.baudRate, 9600u);
  EXPECT_EQ(back.stopBits, 0);

  for (CommState bad :
       {CommState{12345, 8, 0, 0}, CommState{9600, 9, 0, 0}, CommState{9600, 5, 0, 2},
        CommState{9600, 8, 0, 1}, CommState{9600, 8, 5, 0}}) {
    EXPECT_FALSE(port_->setState(bad)) << bad.baudRate << " " << int{bad.byteSize};
  }
}

TEST_F(SerialPortOnPty, OneOpenerInAnyProcessAndOnlyTerminals) {
  EXPECT_FALSE(makeSerialPort()->open(device_));
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) ::_exit(makeSerialPort()->open(device_) ? 1 : 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another process opened it";

  // Free again after the close, also under a mapped COM name.
  testing::ScopedTempDir dir;
  testing::ScopedEnv config("XDG_CONFIG_HOME", dir.path());
  port_->close();
  ASSERT_TRUE(mapPort(*openSystemRegistry(), "COM5", device_));
  EXPECT_TRUE(port_->open("COM5"));

  std::ofstream(dir.file("plain")) << "not a terminal";
  EXPECT_FALSE(port_->open(dir.file("plain")));
  EXPECT_FALSE(port_->isOpen()) << "a failed open leaves the port closed";
}

// The kind of a failed open, from a child process that has dropped its
// privileges first when it runs as root (to whom no mode refuses a device).
OpenErrorKind kindOfOpen(const std::string& path, bool unprivileged) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(100);
    }
    auto port = makeSerialPort();
    ::_exit(port->open(path) ? 101 : static_cast<int>(port->openError().kind));
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return static_cast<OpenErrorKind>(WIFEXITED(status) ? WEXITSTATUS(status) : 102);
}

TEST_F(SerialPortOnPty, OpenFailuresKeepTheirKindAndSayWhatToDo) {
  testing::ScopedTempDir dir;
  std::ofstream(dir.file("plain")) << "not a terminal";
  const int locked = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_EQ(::grantpt(locked), 0);
  ASSERT_EQ(::unlockpt(locked), 0);
  const std::string unreadable = ::ptsname(locked);
  ASSERT_EQ(::chmod(unreadable.c_str(), 0), 0);

  const struct {
    std::string path;
    bool unprivileged;
    OpenErrorKind kind;
    std::string words;
  } cases[] = {
      {device_, false, OpenErrorKind::Busy, "busy: held by another program"},
      {dir.file("missing"), false, OpenErrorKind::NotFound, "not found"},
      {unreadable, true, OpenErrorKind::PermissionDenied,
       "permission denied: add yourself to the "},
      {dir.file("plain"), false, OpenErrorKind::Other, "cannot be opened as a serial port"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(kindOfOpen(c.path, c.unprivileged), c.kind);
    if (c.unprivileged) continue;
    auto port = makeSerialPort();
    ASSERT_FALSE(port->open(c.path));
    const OpenError error = port->openError();
    EXPECT_EQ(error.device, c.path);
    EXPECT_FALSE(error.osText.empty());
    EXPECT_EQ(describeOpenError(error).rfind(c.words, 0), 0u) << describeOpenError(error);
  }
  const std::string denied =
      describeOpenError({OpenErrorKind::PermissionDenied, unreadable, "Permission denied"});
  EXPECT_TRUE(denied.starts_with("permission denied: add yourself to the ")) << denied;
  EXPECT_TRUE(denied.ends_with(" group and log in again (Permission denied)")) << denied;
  ::close(locked);
}

TEST_F(SerialPortOnPty, ReadTimeouts) {
  const struct {
    const char* what;
    CommTimeouts timeouts;
    Plan plan;
    std::string expected;
    milliseconds atLeast, below;
  } cases[] = {
      {"the partial answer after the constant", {0, 0, 150}, {{0ms, "abc"}}, "abc", 149ms, 3s},
      {"6 bytes at 10 ms each plus 100 ms", {0, 10, 100}, {}, "", 159ms, 3s},
      {"all bytes at once", {0, 0, 5000}, {{30ms, "ab"}, {30ms, "cdef"}}, "abcdef", 55ms, 4s},
      {"a quiet gap", {100, 0, 0}, {{0ms, "ab"}, {10ms, "c"}, {600ms, "z"}}, "abc", 100ms, 590ms},
      {"MAXDWORD interval: what is there", {Max, 0, 0}, {}, "", 0ms, 1s},
      {"MAXDWORD interval and multiplier: the first bytes",
       {Max, Max, 5000},
       {{40ms, "xy"}},
       "xy",
       0ms,
       4s},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto [got, elapsed] = readWhileSending(c.timeouts, c.plan);
    EXPECT_EQ(got, c.expected);
    EXPECT_GE(elapsed, c.atLeast);
    EXPECT_LT(elapsed, c.below);
    port_->purge(PurgeAction::RxClear);
  }
}

// At 50 baud the bytes still wanted take most of a second on the wire; the
// read waits for them no longer than its own time-out.
TEST_F(SerialPortOnPty, TheWaitForTheRestOfAReadKeepsItsTimeOut) {
  ASSERT_TRUE(port_->setState({50, 8, 0, 0}));
  const auto [got, elapsed] = readWhileSending({0, 0, 150}, {{0ms, "a"}});
  EXPECT_EQ(got, "a");
  EXPECT_LT(elapsed, 500ms);
}

TEST_F(SerialPortOnPty, PurgeDiscardsPendingInputAndWritesReachTheFarEnd) {
  ASSERT_EQ(::write(master_, "stale", 5), 5);
  std::this_thread::sleep_for(100ms);  // for the bytes to reach the port's queue
  EXPECT_TRUE(port_->purge(PurgeAction::RxClear));
  EXPECT_EQ(readWhileSending({0, 0, 50}, {}).first, "");

  const std::string frame{0x05, 0x06, 0x00, 0x03, 0x00, 0x01, char(0xCD)};
  EXPECT_TRUE(port_->purge(PurgeAction::TxClear));
  EXPECT_EQ(port_->write(reinterpret_cast<const uint8_t*>(frame.data()), 7), 7u);
  std::string got;
  char buffer[7];
  for (pollfd m{master_, POLLIN, 0}; got.size() < 7 && ::poll(&m, 1, 2000) == 1;) {
    const ssize_t n = ::read(master_, buffer, 7 - got.size());
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  EXPECT_EQ(got, frame);
}

// The far end stops taking bytes (a stopped `loopsim pty`, a wedged adapter):
// a write ends instead of holding the bus, and the port is given up.
TEST_F(SerialPortOnPty, AWriteTheFarEndNeverTakesEndsAndClosesThePort) {
  ASSERT_TRUE(port_->setState({9600, 8, 0, 0}));
  const std::vector<uint8_t> chunk(255, 0x55);
  size_t written = chunk.size();
  for (int i = 0; i < 10000 && written == chunk.size(); ++i) {
    written = port_->write(chunk.data(), chunk.size());
  }
  EXPECT_LT(written, chunk.size());
  EXPECT_FALSE(port_->isOpen());
  EXPECT_EQ(port_->takeDropped().rfind(device_ + ": the port takes no bytes", 0), 0u);
  EXPECT_EQ(port_->takeDropped(), "") << "told once";
}

TEST_F(SerialPortOnPty, AHangUpEndsAReadAtOnce) {
  ::close(master_);
  master_ = -1;
  const auto [got, elapsed] = readWhileSending({0, 0, 5000}, {});
  EXPECT_EQ(got, "");
  EXPECT_LT(elapsed, 4s);
}

}  // namespace
}  // namespace loopmon
