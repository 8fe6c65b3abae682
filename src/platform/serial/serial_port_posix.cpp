// A serial port on a POSIX terminal device, behaving like a Win32 comm handle:
// no line discipline (the device is raw from the moment it is opened, as a COM
// port has none), exclusive use, COMMTIMEOUTS read time-outs emulated with
// poll(), and the line error flags taken from the driver's error counters.
//
// Pseudo-terminals stand in for ports in tests and for the simulated line; they
// have no modem lines and no error counters. Those calls then fail, and their
// results are unchecked by the bus code exactly as on Windows.

#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

#include "platform/serial/port_names.h"
#include "platform/serial/read_deadline.h"
#include "platform/serial/serial_port.h"
#include "platform/store/registry.h"
#include "platform/store/whole_file.h"
#include "platform/system/deadline.h"
#include "platform/system/files_posix.h"

namespace loopmon {
namespace {

// Win32 DCB codes.
constexpr uint8_t kNoParity = 0, kOddParity = 1, kEvenParity = 2, kMarkParity = 3, kSpaceParity = 4;
constexpr uint8_t kOneStopBit = 0, kOneAndHalfStopBits = 1, kTwoStopBits = 2;

struct BaudRate {
  uint32_t bitsPerSecond;
  speed_t speed;
};

constexpr BaudRate kBaudRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

// Beyond the bytes' own wire time, how long a write may find the port taking nothing.
constexpr auto WriteStallLimit = std::chrono::seconds(1);

constexpr tcflag_t kCharacterFormat = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;

std::optional<speed_t> speedOf(uint32_t bitsPerSecond) {
  for (const BaudRate& b : kBaudRates) {
    if (b.bitsPerSecond == bitsPerSecond) return b.speed;
  }
  return std::nullopt;
}

uint32_t bitsPerSecondOf(speed_t speed) {
  for (const BaudRate& b : kBaudRates) {
    if (b.speed == speed) return b.bitsPerSecond;
  }
  return 0;
}

// The one place an errno of the open becomes a kind. A device node without a
// device behind it (an unplugged converter's stale node) counts as not found.
OpenErrorKind openErrorKind(int code) {
  switch (code) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
      return OpenErrorKind::NotFound;
    case EBUSY:
    case EWOULDBLOCK:
      return OpenErrorKind::Busy;
    case EACCES:
    case EPERM:
    case EROFS:
      return OpenErrorKind::PermissionDenied;
    default:
      return OpenErrorKind::Other;
  }
}

// The group that may open the device ("dialout" on Debian, "uucp" elsewhere).
std::string deviceGroup(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && st.st_gid != 0) {
    if (const group* g = ::getgrgid(st.st_gid)) return g->gr_name;
  }
  return "dialout";
}

class PosixSerialPort final : public SerialPort {
 public:
  ~PosixSerialPort() override { close(); }

  bool open(const std::string& name) override {
    close();
    std::string path = name;
    try {
      if (comPortNumber(name)) path = resolvePortName(*openSystemRegistry(), name);
    } catch (const FileError& error) {
      // The store of COM names cannot be read, so neither can the port be told.
      error_ = {OpenErrorKind::Other, name, error.what()};
      return false;
    }
    error_ = {OpenErrorKind::None, path, {}};
    // Non-blocking: the open must not wait for a carrier, and reads and writes
    // wait in poll() under our own time-outs.
    posix::UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) return failed(errno);
    termios tio{};
    if (::tcgetattr(fd.get(), &tio) != 0) return failed(errno);  // not a terminal, so no port
    // "Without sharing": a second opener fails, in this process or another.
    // TIOCEXCL alone would not stop a privileged opener.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return failed(errno);
    ::ioctl(fd.get(), TIOCEXCL);

    tcflag_t format = tio.c_cflag & kCharacterFormat;
    ::cfmakeraw(&tio);
    tio.c_cflag = (tio.c_cflag & ~(kCharacterFormat | CRTSCTS)) | format | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::tcsetattr(fd.get(), TCSANOW, &tio);

    fd_ = std::move(fd);
    timeouts_ = CommTimeouts{};
    automaticLines_ = CommState{};
    lastCounts_ = errorCounts();
    hungUp_ = false;
    return true;
  }

  void close() override {
    if (!fd_.valid()) return;
    // The mode stays with the device, not the descriptor: the next program
    // finds the port as we found it.
    if (savedRs485_) ::ioctl(fd_.get(), TIOCSRS485, &*savedRs485_);
    savedRs485_.reset();
    ::ioctl(fd_.get(), TIOCNXCL);
    fd_.reset();
  }

  bool isOpen() const override { return fd_.valid(); }

  OpenError openError() const override { return error_; }

  bool getState(CommState& state) override {
    termios tio{};
    if (!fd_.valid() || ::tcgetattr(fd_.get(), &tio) != 0) return false;
    state.baudRate = bitsPerSecondOf(::cfgetospeed(&tio));
    switch (tio.c_cflag & CSIZE) {
      case CS5:
        state.byteSize = 5;
        break;
      case CS6:
        state.byteSize = 6;
        break;
      case CS7:
        state.byteSize = 7;
        break;
      default:
        state.byteSize = 8;
    }
    if (!(tio.c_cflag & PARENB)) {
      state.parity = kNoParity;
    } else if (tio.c_cflag & CMSPAR) {
      state.parity = (tio.c_cflag & PARODD) ? kMarkParity : kSpaceParity;
    } else {
      state.parity = (tio.c_cflag & PARODD) ? kOddParity : kEvenParity;
    }
    bool twoStop = tio.c_cflag & CSTOPB;
    state.stopBits = !twoStop              ? kOneStopBit
                     : state.byteSize == 5 ? kOneAndHalfStopBits
                                           : kTwoStopBits;
    state.dtrControlAuto = automaticLines_.dtrControlAuto;
    state.rtsControlAuto = automaticLines_.rtsControlAuto;
    state.abortOnError = automaticLines_.abortOnError;
    return true;
  }

  bool setState(const CommState& state) override {
    termios tio{};
    if (!fd_.valid() || ::tcgetattr(fd_.get(), &tio) != 0) return false;
    std::optional<speed_t> speed = speedOf(state.baudRate);
    // As for a DCB: 1.5 stop bits go with 5 data bits only, 2 with 6 to 8 only.
    bool validStopBits = state.byteSize == 5 ? state.stopBits != kTwoStopBits
                                             : state.stopBits != kOneAndHalfStopBits;
    if (!speed || state.byteSize < 5 || state.byteSize > 8 || state.parity > kSpaceParity ||
        state.stopBits > kTwoStopBits || !validStopBits) {
      return false;
    }
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    tcflag_t cflag = kSizes[state.byteSize - 5];
    if (state.parity != kNoParity) cflag |= PARENB;
    if (state.parity == kOddParity || state.parity == kMarkParity) cflag |= PARODD;
    if (state.parity == kMarkParity || state.parity == kSpaceParity) cflag |= CMSPAR;
    if (state.stopBits != kOneStopBit) cflag |= CSTOPB;
    tio.c_cflag = (tio.c_cflag & ~kCharacterFormat) | cflag;
    ::cfsetispeed(&tio, *speed);
    ::cfsetospeed(&tio, *speed);
    if (::tcsetattr(fd_.get(), TCSANOW, &tio) != 0) return false;
    // With automatic control off a comm port drops DTR and RTS, while a
    // terminal raises both on open: a converter that takes RTS as "send" would
    // otherwise hold the bus after every reopen. The automatic modes have no
    // counterpart here and are only kept so the state reads back as it was set.
    if (!state.dtrControlAuto) setModemLine(TIOCM_DTR, false);
    if (!state.rtsControlAuto) setModemLine(TIOCM_RTS, false);
    automaticLines_ = state;
    return true;
  }

  // The terminal driver's buffers have a fixed size.
  bool setupQueues(uint32_t, uint32_t) override { return fd_.valid(); }

  bool getTimeouts(CommTimeouts& timeouts) override {
    timeouts = timeouts_;
    return fd_.valid();
  }

  bool setTimeouts(const CommTimeouts& timeouts) override {
    timeouts_ = timeouts;
    return fd_.valid();
  }

  // Writes are synchronous, so there is never a pending write to abort: the
  // abort actions discard the queued bytes like the clear actions.
  bool purge(PurgeAction action) override {
    if (!fd_.valid()) return false;
    bool output = action == PurgeAction::TxClear || action == PurgeAction::TxAbort;
    return ::tcflush(fd_.get(), output ? TCOFLUSH : TCIFLUSH) == 0;
  }

  // The bytes have left when the driver's queue is empty and, where the port
  // can tell (a UART's line status), its transmitter as well. That is watched
  // in steps of 100 us: tcdrain() would tell too, but some USB serial drivers
  // answer it only at their own polling period, milliseconds after the line
  // went quiet, and the line must be turned round at once. A port that cannot
  // count its queue is given the wire time of the bytes written since; not
  // tcdrain(), which waits without a limit on a port that has stopped.
  bool drain() override {
    if (!fd_.valid()) return false;
    const size_t written = std::exchange(bytesSinceRead_, 0);
    int queued = 0;
    if (::ioctl(fd_.get(), TIOCOUTQ, &queued) != 0) {
      std::this_thread::sleep_for(characterTime() * written);
      return false;
    }
    // A queue that does not empty at the line's pace belongs to a port that has gone.
    const auto giveUp = std::chrono::steady_clock::now() + characterTime() * (queued + 16) +
                        std::chrono::milliseconds(20);
    while (queued > 0 || !transmitterEmpty()) {
      if (std::chrono::steady_clock::now() > giveUp) return false;
      std::this_thread::sleep_for(std::chrono::microseconds(100));
      if (::ioctl(fd_.get(), TIOCOUTQ, &queued) != 0) return false;
    }
    return true;
  }

  // Drivers without RS-485 support may still report a configuration; only
  // taking one back proves that they act on it.
  bool supportsKernelRs485() override {
    serial_rs485 rs{};
    return fd_.valid() && ::ioctl(fd_.get(), TIOCGRS485, &rs) == 0 &&
           ::ioctl(fd_.get(), TIOCSRS485, &rs) == 0;
  }

  bool enableKernelRs485() override {
    serial_rs485 before{};
    if (!fd_.valid() || ::ioctl(fd_.get(), TIOCGRS485, &before) != 0) return false;
    serial_rs485 rs = before;
    rs.flags = (rs.flags | SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND) &
               ~(SER_RS485_RTS_AFTER_SEND | SER_RS485_RX_DURING_TX);
    rs.delay_rts_before_send = 0;
    rs.delay_rts_after_send = 0;
    if (::ioctl(fd_.get(), TIOCSRS485, &rs) != 0) return false;
    if (!savedRs485_) savedRs485_ = before;
    return true;
  }

  bool setDtr(bool on) override { return setModemLine(TIOCM_DTR, on); }
  bool setRts(bool on) override { return setModemLine(TIOCM_RTS, on); }

  uint32_t takeLineErrors() override {
    uint32_t flags = std::exchange(hungUp_, false) ? LineError::Lost : 0;
    std::optional<serial_icounter_struct> now = errorCounts();
    if (!now || !lastCounts_) return flags;
    if (now->buf_overrun != lastCounts_->buf_overrun) flags |= LineError::ReceiveOverflow;
    if (now->overrun != lastCounts_->overrun) flags |= LineError::Overrun;
    if (now->parity != lastCounts_->parity) flags |= LineError::Parity;
    if (now->frame != lastCounts_->frame) flags |= LineError::Frame;
    if (now->brk != lastCounts_->brk) flags |= LineError::Break;
    lastCounts_ = now;
    return flags;
  }

  size_t read(uint8_t* buffer, size_t count) override {
    if (!fd_.valid()) return 0;
    bytesSinceRead_ = 0;
    using Clock = std::chrono::steady_clock;
    ReadDeadline deadline(timeouts_, count, Clock::now());
    size_t received = 0;
    Clock::time_point lastByteDue;
    while (received < count) {
      const ReadDeadline::Duration wait = deadline.remaining(Clock::now(), received);
      if (!waitFor(POLLIN, wait)) {
        if (wait == ReadDeadline::Duration::zero()) break;
        continue;
      }
      ssize_t n = ::read(fd_.get(), buffer + received, count - received);
      if (n > 0) {
        const auto now = Clock::now();
        if (received == 0) lastByteDue = now + characterTime() * (count - static_cast<size_t>(n));
        received += static_cast<size_t>(n);
        deadline.bytesArrived(now);
        if (received < count) awaitRest(deadline, lastByteDue, received);
      } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        hungUp_ = true;  // the device is gone or the other end closed
        break;
      }
    }
    arrivals_ = deadline.arrivals();
    return received;
  }

  ReadArrivals lastReadArrivals() const override { return arrivals_; }

  // A port that takes no bytes for longer than their wire time and a second
  // has stopped (the far end of a pseudo-terminal stopped, a wedged adapter):
  // the port is closed and says so (takeDropped) rather than hold the bus.
  size_t write(const uint8_t* buffer, size_t count) override {
    if (!fd_.valid()) return 0;
    using Clock = std::chrono::steady_clock;
    const auto giveUp = Clock::now() + characterTime() * count + WriteStallLimit;
    size_t written = 0;
    while (written < count) {
      ssize_t n = ::write(fd_.get(), buffer + written, count - written);
      if (n > 0) {
        written += static_cast<size_t>(n);
      } else if (n < 0 && errno == EAGAIN) {
        if (Clock::now() >= giveUp || !waitFor(POLLOUT, giveUp - Clock::now())) {
          dropped_ = error_.device + ": the port takes no bytes (a write stalled for over " +
                     std::to_string(WriteStallLimit.count()) +
                     " s: a stopped line or a wedged adapter?); the port is closed";
          close();
          break;
        }
      } else if (n == 0 || errno != EINTR) {
        hungUp_ = true;
        break;
      }
    }
    bytesSinceRead_ += written;
    return written;
  }

  std::string takeDropped() override { return std::exchange(dropped_, {}); }

 private:
  // A port without a line status (a pseudo-terminal, most USB adapters) has
  // nothing to tell beyond its queue.
  bool transmitterEmpty() const {
    unsigned int status = 0;
    if (::ioctl(fd_.get(), TIOCSERGETLSR, &status) != 0) return true;
    return (status & TIOCSER_TEMT) != 0;
  }

  // The rest of a read cannot come sooner than its wire time: waking for each
  // byte as it trickles in costs a thread switch a character, which with many
  // lines adds up to a good part of a core. A device sends a frame's bytes back
  // to back, so the last is due the wire time of the rest after the first read:
  // the read sleeps until then, never past its deadline, and polls for what is
  // still missing as before. The first read sees its bytes moments after they
  // came, so the sleep ends about as late as the poll woke, not a character
  // late. Not with an interval time-out: that one counts from each byte's
  // arrival, and a byte found after a sleep could have come at any moment of it.
  void awaitRest(const ReadDeadline& deadline, std::chrono::steady_clock::time_point lastByteDue,
                 size_t received) const {
    if (deadline.timesIntervals()) return;
    const auto now = std::chrono::steady_clock::now();
    if (lastByteDue <= now) return;
    std::this_thread::sleep_for(
        std::min<ReadDeadline::Duration>(lastByteDue - now, deadline.remaining(now, received)));
  }

  // One character (start bit, data, stop bit) at the port's speed.
  std::chrono::microseconds characterTime() const {
    termios tio{};
    ::tcgetattr(fd_.get(), &tio);
    return std::chrono::microseconds(10'000'000 /
                                     std::max<uint32_t>(bitsPerSecondOf(::cfgetospeed(&tio)), 50));
  }

  bool failed(int code) {
    error_.kind = openErrorKind(code);
    error_.osText = std::strerror(code);
    return false;
  }

  bool setModemLine(int line, bool on) {
    return fd_.valid() && ::ioctl(fd_.get(), on ? TIOCMBIS : TIOCMBIC, &line) == 0;
  }

  std::optional<serial_icounter_struct> errorCounts() const {
    serial_icounter_struct counts{};
    if (::ioctl(fd_.get(), TIOCGICOUNT, &counts) != 0) return std::nullopt;
    return counts;
  }

  // Waits until the port is ready for `events` or the time is up; true when it
  // is ready, or hung up (the next read or write then tells).
  bool waitFor(short events, ReadDeadline::Duration limit) {
    pollfd p{fd_.get(), events, 0};
    int ready = ::poll(&p, 1, static_cast<int>(waitMs(limit)));
    return ready > 0;
  }

  posix::UniqueFd fd_;
  CommTimeouts timeouts_;
  ReadArrivals arrivals_;
  CommState automaticLines_;
  std::optional<serial_icounter_struct> lastCounts_;
  // A read or write found the device hung up; told as LineError::Lost.
  bool hungUp_ = false;
  // Written since the last read: what a drain without a queue count waits for.
  size_t bytesSinceRead_ = 0;
  std::string dropped_;
  OpenError error_;
  std::optional<serial_rs485> savedRs485_;
};

}  // namespace

std::unique_ptr<SerialPort> makeSerialPort() {
  return std::make_unique<PosixSerialPort>();
}

std::string openErrorAdvice(const OpenError& error) {
  switch (error.kind) {
    case OpenErrorKind::NotFound:
      return " (is the converter plugged in?)";
    case OpenErrorKind::PermissionDenied:
      return ": add yourself to the " + deviceGroup(error.device) + " group and log in again";
    default:
      return {};
  }
}

}  // namespace loopmon
