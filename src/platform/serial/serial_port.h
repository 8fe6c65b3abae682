#pragma once
// A serial port as the bus engine sees it: the Win32 comm model (state record,
// queue sizes, read time-outs, purge, DTR/RTS, error state), so the engine can
// follow the exchange step by step on either platform.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace loopmon {

struct CommState {
  uint32_t baudRate = 0;
  uint8_t byteSize = 8;
  uint8_t parity = 0;    // 0 = none
  uint8_t stopBits = 0;  // 0 = one stop bit (Win32 ONESTOPBIT)
  bool dtrControlAuto = false;
  bool rtsControlAuto = false;
  bool abortOnError = false;
};

// Read time-outs follow COMMTIMEOUTS: a read returns when the interval between
// two bytes exceeds readIntervalMs (0 = unused), or when the total time exceeds
// readTotalMultiplierMs * bytes + readTotalConstantMs (both 0 = no total limit).
struct CommTimeouts {
  uint32_t readIntervalMs = 0;
  uint32_t readTotalMultiplierMs = 0;
  uint32_t readTotalConstantMs = 0;
  uint32_t writeTotalMultiplierMs = 0;
  uint32_t writeTotalConstantMs = 0;
};

enum class PurgeAction { TxClear, TxAbort, RxClear, RxAbort };

// Flags of takeLineErrors(), with the values of the Win32 CE_ flags.
namespace LineError {
inline constexpr uint32_t ReceiveOverflow = 0x0001;  // input buffer full, bytes lost
inline constexpr uint32_t Overrun = 0x0002;          // the UART lost a character
inline constexpr uint32_t Parity = 0x0004;
inline constexpr uint32_t Frame = 0x0008;
inline constexpr uint32_t Break = 0x0010;
// Not a comm flag: the device hung up or vanished (an unplugged converter).
inline constexpr uint32_t Lost = 0x80000000;
}  // namespace LineError

// Why an open failed, so that a message can say which and what to do.
enum class OpenErrorKind { None, NotFound, Busy, PermissionDenied, Other };

struct OpenError {
  OpenErrorKind kind = OpenErrorKind::None;
  std::string device;  // what was opened, after a COM name was resolved
  std::string osText;  // the system's own words for it
};

// When the bytes of a read came in, in microseconds from the start of the
// read; empty when none came, or where the port cannot tell.
struct ReadArrivals {
  std::optional<int64_t> firstMicros;
  std::optional<int64_t> lastMicros;
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Opens the device exclusively for reading and writing. `name` is "COMn" or a
  // device path. Returns false when the device is missing or held elsewhere;
  // openError() then tells which.
  virtual bool open(const std::string& name) = 0;
  // Why the last open failed; kind None after one that succeeded.
  virtual OpenError openError() const { return {}; }
  virtual void close() = 0;
  virtual bool isOpen() const = 0;

  virtual bool getState(CommState& state) = 0;
  virtual bool setState(const CommState& state) = 0;
  // Queue sizes in bytes; 0 leaves the size to the system.
  virtual bool setupQueues(uint32_t receiveBytes, uint32_t transmitBytes) = 0;
  virtual bool getTimeouts(CommTimeouts& timeouts) = 0;
  virtual bool setTimeouts(const CommTimeouts& timeouts) = 0;
  virtual bool purge(PurgeAction action) = 0;
  virtual bool setDtr(bool on) = 0;
  virtual bool setRts(bool on) = 0;
  // Returns the line error flags gathered since the last call and clears them
  // (0 when the line is clean); LineError::Lost once a read or write found
  // the device gone.
  virtual uint32_t takeLineErrors() = 0;
  // Blocks under the read time-outs; returns the number of bytes read.
  virtual size_t read(uint8_t* buffer, size_t count) = 0;
  // Synchronous write; returns the number of bytes written.
  virtual size_t write(const uint8_t* buffer, size_t count) = 0;
  // The arrivals of the last read: ports that wait for each byte themselves
  // know them; a Win32 comm read hands its bytes over all at once.
  virtual ReadArrivals lastReadArrivals() const { return {}; }
  // Returns once the bytes written have left the port, as far as the port can
  // tell; false when it cannot tell.
  virtual bool drain() = 0;

  // Called just before a request frame (checksum included) goes out;
  // `answerAwaited` when a read for its answer follows. A line that may still
  // bring answers owed to earlier requests (a remote line) makes sure first
  // that none of them can pass for this one's; a local port has nothing to do.
  virtual void requestGoesOut(const uint8_t* /*frame*/, size_t /*count*/, bool /*answerAwaited*/) {}
  // A line behind a network server, which turns the RS-485 line round by
  // itself and adds the network's delay to every answer.
  virtual bool isRemote() const { return false; }
  // How much later than on a local line an answer may come on this line: what
  // the port has measured of its network, never above `ceilingMs` (the line
  // setting an operator chose) and the ceiling while nothing is measured.
  virtual uint32_t networkAllowanceMs(uint32_t ceilingMs) { return ceilingMs; }
  // Why the line is down, in words that name it (the failed open, or the lost
  // connection); "" while it works, and for ports that cannot say.
  virtual std::string failure() const { return {}; }
  // Why the port gave the line up since the last call, once, in words that
  // name it: its far end sends without pause or breaks its protocol, or the
  // port takes no bytes. The port is closed then; the next open tries again.
  // "" when it gave nothing up.
  virtual std::string takeDropped() { return {}; }

  // Kernel RS-485 mode (Linux TIOCSRS485): the UART driver turns the line
  // round itself, RTS on while sending. The first asks without changing
  // anything; the second switches it on until the port is closed, which puts
  // back what the port had. Both false where the driver lacks it.
  virtual bool supportsKernelRs485() { return false; }
  virtual bool enableKernelRs485() { return false; }
};

std::unique_ptr<SerialPort> makeSerialPort();

// An open failure in one line for the user: the kind in words, what to do
// about it on this system, and the system's text.
std::string describeOpenError(const OpenError& error);
// What to do about an open failure on this system, as describeOpenError
// appends it to the kind's words; "" when there is nothing to say.
std::string openErrorAdvice(const OpenError& error);

}  // namespace loopmon
