// The serial port on a real pseudo-terminal: the test plays the far end of the
// line on the master side, the port under test opens the slave device.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "platform/port_names.h"
#include "platform/registry.h"
#include "platform/serial_port.h"
#include "scoped_temp_dir.h"

namespace loopmon {
namespace {

using std::chrono::milliseconds;
using testing::ScopedEnv;
using testing::ScopedTempDir;
using Steady = std::chrono::steady_clock;

constexpr uint32_t kMax = 0xFFFFFFFF;

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

  // The far end sends bytes now, or after `delay` from a child process while
  // the test reads.
  void farEndSends(const std::string& bytes) {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void farEndSendsLater(std::vector<std::pair<milliseconds, std::string>> plan) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (const auto& [delay, bytes] : plan) {
        std::this_thread::sleep_for(delay);
        if (::write(master_, bytes.data(), bytes.size()) < 0) ::_exit(1);
      }
      ::_exit(0);
    }
    writers_.push_back(pid);
  }
  void waitForWriters() {
    for (pid_t pid : writers_) ::waitpid(pid, nullptr, 0);
    writers_.clear();
  }

  // Reads with the given time-outs; the time taken goes to `elapsed`.
  std::string readWith(const CommTimeouts& timeouts, size_t count, milliseconds& elapsed) {
    EXPECT_TRUE(port_->setTimeouts(timeouts));
    std::string buffer(count, '\0');
    auto start = Steady::now();
    size_t n = port_->read(reinterpret_cast<uint8_t*>(buffer.data()), count);
    elapsed = std::chrono::duration_cast<milliseconds>(Steady::now() - start);
    buffer.resize(n);
    return buffer;
  }

  int master_ = -1;
  std::string device_;
  std::unique_ptr<SerialPort> port_ = makeSerialPort();
  std::vector<pid_t> writers_;
};

TEST_F(SerialPortOnPty, LineParametersReadBackAsSet) {
  CommState state;
  ASSERT_TRUE(port_->getState(state));
  state.baudRate = 9600;
  state.byteSize = 8;
  state.parity = 0;
  state.stopBits = 0;
  state.dtrControlAuto = false;
  state.rtsControlAuto = false;
  ASSERT_TRUE(port_->setState(state));
  CommState back;
  ASSERT_TRUE(port_->getState(back));
  EXPECT_EQ(back.baudRate, 9600u);
  EXPECT_EQ(back.byteSize, 8);
  EXPECT_EQ(back.parity, 0);
  EXPECT_EQ(back.stopBits, 0);

  // A pseudo-terminal keeps 8 bits without parity whatever it is told; the
  // speed, the stop bits and the automatic line modes read back.
  CommState twoStopBits{19200, 8, 0, 2, true, true, false};
  ASSERT_TRUE(port_->setState(twoStopBits));
  ASSERT_TRUE(port_->getState(back));
  EXPECT_EQ(back.baudRate, 19200u);
  EXPECT_EQ(back.stopBits, 2);
  EXPECT_TRUE(back.dtrControlAuto);
  EXPECT_TRUE(back.rtsControlAuto);

  for (CommState bad :
       {CommState{12345, 8, 0, 0}, CommState{9600, 9, 0, 0}, CommState{9600, 5, 0, 2},
        CommState{9600, 8, 0, 1}, CommState{9600, 8, 5, 0}}) {
    EXPECT_FALSE(port_->setState(bad)) << bad.baudRate << " " << int(bad.byteSize);
  }
}

TEST_F(SerialPortOnPty, OpensByMappedComNameAndRefusesWhatIsNoPort) {
  ScopedTempDir dir;
  ScopedEnv config("XDG_CONFIG_HOME", dir.path());
  port_->close();
  ASSERT_TRUE(mapPort(*openSystemRegistry(), "COM5", device_));
  EXPECT_TRUE(port_->open("COM5"));
  EXPECT_TRUE(port_->isOpen());

  std::ofstream(dir.file("plain")) << "not a terminal";
  EXPECT_FALSE(port_->open(dir.file("plain")));
  EXPECT_FALSE(port_->isOpen()) << "a failed open leaves the port closed";
  EXPECT_FALSE(port_->open(dir.file("missing")));
}

TEST_F(SerialPortOnPty, ASecondOpenerIsRefusedInAnyProcess) {
  auto second = makeSerialPort();
  EXPECT_FALSE(second->open(device_));

  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) ::_exit(makeSerialPort()->open(device_) ? 1 : 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another process opened it";

  port_->close();
  EXPECT_TRUE(second->open(device_));
}

TEST_F(SerialPortOnPty, ConstantTimeoutReturnsThePartialAnswerAfterTheConstant) {
  farEndSends("abc");
  milliseconds elapsed{};
  EXPECT_EQ(readWith({0, 0, 150}, 6, elapsed), "abc");
  EXPECT_GE(elapsed, milliseconds(149));
  EXPECT_LT(elapsed, milliseconds(3000));

  EXPECT_EQ(readWith({0, 10, 100}, 6, elapsed), "");
  EXPECT_GE(elapsed, milliseconds(159)) << "6 bytes at 10 ms each plus 100 ms";
}

TEST_F(SerialPortOnPty, BytesArrivingDuringTheReadAreReturnedAtOnce) {
  farEndSendsLater({{milliseconds(30), "ab"}, {milliseconds(30), "cdef"}});
  milliseconds elapsed{};
  EXPECT_EQ(readWith({0, 0, 5000}, 6, elapsed), "abcdef");
  EXPECT_GE(elapsed, milliseconds(55));
  EXPECT_LT(elapsed, milliseconds(4000)) << "waited for the time-out despite all bytes";
  waitForWriters();
}

TEST_F(SerialPortOnPty, IntervalTimeoutEndsTheReadAfterAQuietGap) {
  farEndSendsLater({{milliseconds(0), "ab"}, {milliseconds(10), "c"}, {milliseconds(600), "z"}});
  milliseconds elapsed{};
  EXPECT_EQ(readWith({100, 0, 0}, 6, elapsed), "abc");
  EXPECT_GE(elapsed, milliseconds(100));
  EXPECT_LT(elapsed, milliseconds(590)) << "the gap after the third byte must end the read";
  waitForWriters();
}

TEST_F(SerialPortOnPty, MaxdwordIntervalReturnsWhatIsThereOrTheFirstBytes) {
  milliseconds elapsed{};
  EXPECT_EQ(readWith({kMax, 0, 0}, 6, elapsed), "");
  EXPECT_LT(elapsed, milliseconds(1000));

  farEndSendsLater({{milliseconds(40), "xy"}});
  EXPECT_EQ(readWith({kMax, kMax, 5000}, 6, elapsed), "xy");
  EXPECT_LT(elapsed, milliseconds(4000));
  waitForWriters();
}

TEST_F(SerialPortOnPty, PurgeDiscardsPendingInputAndWritesReachTheFarEnd) {
  farEndSends("stale");
  std::this_thread::sleep_for(milliseconds(100));  // for the bytes to reach the port's queue
  EXPECT_TRUE(port_->purge(PurgeAction::RxClear));
  EXPECT_TRUE(port_->purge(PurgeAction::RxAbort));
  milliseconds elapsed{};
  EXPECT_EQ(readWith({0, 0, 50}, 6, elapsed), "");

  const uint8_t frame[] = {0x05, 0x06, 0x00, 0x03, 0x00, 0x01, 0xCD};
  EXPECT_TRUE(port_->purge(PurgeAction::TxClear));
  EXPECT_EQ(port_->write(frame, sizeof frame), sizeof frame);
  uint8_t got[sizeof frame] = {};
  size_t n = 0;
  while (n < sizeof frame) {
    pollfd m{master_, POLLIN, 0};
    ASSERT_EQ(::poll(&m, 1, 2000), 1);
    ssize_t r = ::read(master_, got + n, sizeof frame - n);
    ASSERT_GT(r, 0);
    n += static_cast<size_t>(r);
  }
  EXPECT_EQ(std::vector<uint8_t>(got, got + n), std::vector<uint8_t>(frame, frame + sizeof frame));
}

TEST_F(SerialPortOnPty, ModemLinesAndErrorCountsAreHarmlessWithoutAUart) {
  port_->setDtr(true);
  port_->setRts(false);
  EXPECT_TRUE(port_->setupQueues(300, 0));
  EXPECT_EQ(port_->takeLineErrors(), 0u);
}

TEST_F(SerialPortOnPty, AHangUpEndsAReadAtOnce) {
  ::close(master_);
  master_ = -1;
  milliseconds elapsed{};
  EXPECT_EQ(readWith({0, 0, 5000}, 6, elapsed), "");
  EXPECT_LT(elapsed, milliseconds(4000));
}

}  // namespace
}  // namespace loopmon
