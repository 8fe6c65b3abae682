#pragma once
// The transport's part of a session: the connection (serial port or bus
// driver), the line settings, the keyed-form state and the answer fields of the
// latest exchange. TRSSession derives from it; tests use it on its own.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/platform.h"
#include "transport/bus_trace.h"
#include "transport/frame.h"
#include "transport/line_settings.h"
#include "transport/sim_exchange.h"

namespace loopmon {

// The answer frame of the latest exchange. `count` is emptied by a nested
// exchange while the bytes stay, which the acknowledgement relies on.
struct AnswerBuffer {
  std::array<uint8_t, MaxFrameBytes> bytes{};
  uint8_t count = 0;
  Bytes toBytes() const { return Bytes(bytes.begin(), bytes.begin() + count); }
};

// The internal assertion of the driver wait: an exchange waited for the driver
// without having recorded when its send finished.
class TransportAssertion : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

// The serial port's registry "Settings" value is not binary data of at most 4
// bytes, so binding the driver could not put it back afterwards.
class PortSettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The serial port went away under a running session (an unplugged converter,
// a cut link): its line-error reopen failed. Raised once per loss by the
// direct request; the next exchange tries to open the port again.
class PortLostError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What the read of the latest exchange on a line heard, taken or not: the
// quick search tells a silent address from one whose answer came damaged,
// late or after another request's, and sizes its wait from the answers'.
struct HeardAnswer {
  size_t bytes = 0;
  uint8_t address = 0;  // the first byte, bit 7 dropped
  bool wellFormed = false;
  int64_t readMicros = 0;  // from the wait's start to the read's end
};

// Where the operating system lists its serial-port instances.
inline constexpr const char* SerialInstancesKey = "Enum\\BIOS\\*PNP0501";

class BusState {
 public:
  // Takes a serial port from the platform (closed), marks every key word as
  // unknown and reads the counter frequency; no bus driver yet: the session
  // decides on that.
  explicit BusState(Platform platform);
  virtual ~BusState();
  BusState(const BusState&) = delete;
  BusState& operator=(const BusState&) = delete;

  Platform platform;

  int32_t ComPort = 1;
  // When not empty, the serial route opens this device instead of "COM<ComPort>".
  std::string PortPath;
  // The port the serial route opens: PortPath, or "COM<ComPort>".
  std::string PortName() const;
  std::unique_ptr<SerialPort> Port;   // PortHandle: open when Port->isOpen()
  std::unique_ptr<BusDriver> Driver;  // DriverHandle: null when there is none
  bool DriverReady = false;
  // The port instance's "Settings" as it was before the driver was bound, kept
  // with its own length (at most 4 bytes) so that it goes back unchanged.
  Bytes SavedPortSettings;
  bool PortSettingsSaved = false;
  // The port whose instance "Settings" the last bind replaced; the release
  // restores that instance even when ComPort has changed in between.
  int32_t BoundComPort = 0;

  int64_t CounterFrequency = 0;
  int64_t StartCounter = 0;
  LineSettings Settings;

  std::array<uint16_t, 128> KeyWord{};
  bool KeyedMode = false;

  AnswerBuffer AnswerFrame;
  Bytes Answer;
  Bytes LastAnswer;
  uint32_t LineErrorCount = 0;
  // The line-error reopen failed, or the port gave the line up (see
  // SerialPort::takeDropped, whose account PortDropReason keeps): the port is
  // gone until an open succeeds again. Whether that loss has been raised to a
  // caller yet.
  bool PortLost = false;
  bool PortLossReported = false;
  std::string PortDropReason;

  SimulatorState Simulator;

  // The port's driver took kernel RS-485 mode when it was opened.
  bool KernelTurnsLine = false;

  // On a local line, the answers each device still owes the tries of one
  // request that gave up waiting (a remote line keeps its own account): they
  // are heard out before a different request goes to that device.
  struct OwedTries {
    Bytes request;  // the frame as sent
    int owed = 0;
    // A try of it had an answer: the device answers it, later than it was
    // given. Tries of a request it never answered owe nothing to wait for.
    bool answered = false;
  };
  std::array<OwedTries, 128> LineOwed{};

  HeardAnswer LastHeard;

  // Every attempt of every exchange, while switched on (bus_trace.h).
  BusTrace Trace;

  bool PortOpen() const { return Port && Port->isOpen(); }
  // SmartPI, the kernel's RS-485 mode, or a network server: the line turns
  // round without the engine's DTR/RTS changes, padding or clearing of the echo.
  bool LineTurnsItself() const {
    return Settings.SmartPI || KernelTurnsLine || (Port && Port->isRemote());
  }
  bool HasDriver() const { return Driver != nullptr; }
  CrcTable crcTable() const {
    return Settings.PublishedCrcTable ? CrcTable::Published : CrcTable::Carried;
  }
};

// Port access. OpenPort (re)opens and configures the serial port, or binds the
// driver to ComPort; false only when the serial port cannot be opened. Throws
// PortSettingsError when the port instance's "Settings" cannot be saved.
bool OpenPort(BusState& bus);
// Why the last OpenPort failed: the port as named, the device it led to, and
// the line's own account (a remote line) or the kind of failure.
struct OpenFailure {
  std::string port;         // "COM9", or the path it was named by
  std::string device;       // what was opened; the port's name when it is the same
  std::string lineFailure;  // the line's own words, "" when it has none
  OpenError error;
};
OpenFailure OpenFailureOf(const BusState& bus);
// The same in one line for the user: the port (with the device where that
// differs), then the line's account or the kind and what to do about it.
std::string DescribeOpenFailure(const BusState& bus);
// Closes the serial port, or releases the driver's port and, when it was
// bound, puts the port instance's "Settings" back.
void ClosePort(BusState& bus);
// Raises PortLostError naming the port when the port was lost since the last
// report; once per loss.
void ReportPortLoss(BusState& bus);
// Takes a line the port gave up (SerialPort::takeDropped) as a lost port with
// the port's own account. Transact and OpenPort call it.
void NoteDroppedLine(BusState& bus);
// Sets the port's read time-outs to ReadTimeouts of the line settings, for the
// short command class or the long one (also used after opening); a remote
// line's total time-out gets the allowance its port has measured,
// NetworkAllowance at most.
void SetReadTimeouts(BusState& bus, bool shortClass);
// The wait for an answer's start that the line's network needs: what the
// port has measured of it, NetworkAllowance at most (NetworkAllowance with
// no port).
uint32_t NetworkAllowanceMs(const BusState& bus);
// Reads the line settings (writing back StartTimeout and TailInUS when
// absent); throws LineSettingsError for a value of the wrong type.
void LoadLineSettings(BusState& bus);

// A copy of the request, in keyed form when keyed mode applies.
Bytes PrepareRequest(const BusState& bus, const Bytes& request);

// One exchange of a prepared request (without checksum). `mode` 0: no answer
// awaited. True when an answer was accepted (with mode 0: when the frame went
// out). Throws TransportAssertion from the driver wait, see above.
bool Transact(BusState& bus, const Bytes& request, uint8_t mode);

// The simulator exchanges (same contract as Transact). The direct side asks
// the link for a new object each time and lets SimulatorUnavailable through;
// the worker side uses the object of CreateWorkerSimulator.
bool SimTransactDirect(BusState& bus, const Bytes& request, uint8_t mode);
bool SimTransactWorker(BusState& bus, const Bytes& request, uint8_t mode);

}  // namespace loopmon
