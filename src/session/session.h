#pragma once
// TRSSession: the component through which every window reaches the bus. It
// owns the connection, the per-address tables, the worker thread and the
// hand-over of bus findings to the owner's thread. This header is what hosts
// use; the state behind it is the session's own (session_core.h).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "transport/frame.h"

namespace loopmon {

inline constexpr uint16_t NoDevice = 128;

// Message numbers and 1035 codes of the hand-over to the owner.
namespace SessionMessage {
inline constexpr uint32_t Device = 1035;       // user base 1024 + 11
inline constexpr uint32_t AsyncAnswer = 1037;  // user base 1024 + 13
inline constexpr int32_t LostDevice = 10;
inline constexpr int32_t NewDevice = 11;
inline constexpr int32_t FalseDevice = 12;
inline constexpr int32_t NewEvent = 14;
inline constexpr int32_t NewAdc = 15;
inline constexpr int32_t NewTypeEventAdc = 16;
}  // namespace SessionMessage

// Runs a call synchronously on the owner's thread (the GUI thread, or a
// loop of the host's own), directly when already on it.
class OwnerDispatcher {
 public:
  virtual ~OwnerDispatcher() = default;
  virtual void invokeSync(const std::function<void()>& call) = 0;
  // Queues a call for the owner's thread and returns at once; the worker
  // waits for it itself, so that a session destroyed on the owner's thread
  // can call the wait off. Without a queue of its own a dispatcher runs the
  // call before returning.
  virtual void post(std::function<void()> call) { invokeSync(call); }
};

// Runs every call at once on the calling thread.
class DirectDispatcher : public OwnerDispatcher {
 public:
  void invokeSync(const std::function<void()>& call) override { call(); }
};

// A window message record as the owner receives it.
struct TMessage {
  uint32_t Msg = 0;
  int32_t WParam = 0;
  void* LParam = nullptr;
  int32_t Result = 0;
};

// lParam of message 1035: a uint8_t address for codes 10..12, a Bytes frame
// for code 14, these records for codes 15 and 16.
struct TAdcReport {
  Bytes Event;
  uint8_t NumEvent = 0;
  uint8_t NumShl = 0;
  int32_t TypeEvent = 0;
  const void* Data = nullptr;
  int32_t lData = 0;
};

struct TTypeReport {
  uint8_t AddrDevice = 0;
  uint8_t AddrShl = 0;
  int32_t TypeDevice = 0;
  int32_t TypeEventShl = 0;
};

// An asynchronous command; lParam of message 1037. For a host's bus command
// Message.LParam points to a 256-byte block: a count byte, then the frame.
struct AsyncCommand {
  uint32_t PostHandle = 0;
  TMessage Message;
};

// One subscribed loop, one subscribed device and the whole set.
struct TLoopA {
  uint8_t NumShl = 0;
  uint8_t Cmd = 0;
  int32_t TypeEventShl = 0;
  int32_t LastValue = -1;
  int32_t lData = 0;
  std::vector<uint8_t> Data;
  double LastReport = 0;
};

struct TStructDeviceA {
  int32_t LoopCursor = 0;
  uint8_t Addr = 0;
  int32_t TypeDevice = -1;
  std::vector<TLoopA> Loops;
};

struct TDeviceA {
  int32_t Cursor = 0;
  std::vector<TStructDeviceA> Devices;
};

using TRSDeviceProc1 = std::function<void(uint8_t Addr)>;
using TRSDeviceProc2 = std::function<void(Bytes Event)>;
using TRSDeviceProcA = std::function<void(const Bytes& Event, uint8_t NumEvent, uint8_t NumShl,
                                          int32_t TypeEvent, const void* Data, int32_t lData)>;
using TRSDetectTypeEventA = std::function<void(uint8_t AddrDevice, uint8_t AddrShl,
                                               int32_t TypeDevice, int32_t TypeEventShl)>;
using TRSAnswerAsyncCommand = std::function<void(uint32_t PostHandle, TMessage mAnswer)>;

// Counters of the session's requests and the worker's cycles.
struct SessionStatistics {
  uint32_t cycles = 0;
  uint32_t requests = 0;
  uint32_t attempts = 0;
  uint32_t failedAttempts = 0;
  uint32_t failedRequests = 0;
  uint32_t failedPolls = 0;
};

class BusTrace;
class SessionCore;
struct HeardAnswer;
struct LineSettings;
struct OpenFailure;

class TRSSession {
 public:
  // A null owner runs the handlers on whichever thread hands over.
  explicit TRSSession(Platform platform, std::shared_ptr<OwnerDispatcher> owner = nullptr);
  ~TRSSession();
  TRSSession(const TRSSession&) = delete;
  TRSSession& operator=(const TRSSession&) = delete;

  TRSDeviceProc2 OnNewEvent;
  TRSDeviceProc1 OnLostDevice;
  TRSDeviceProc1 OnNewDevice;
  TRSDeviceProc1 OnFalseDevice;
  TRSDeviceProcA OnNewADC;
  TRSDetectTypeEventA OnNewTypeEventADC;
  TRSAnswerAsyncCommand OnAsynchAnswer;

  bool Work() const;
  void SetWork(bool value);
  int32_t ComPort() const;
  // 1..4; another value, or the current one, changes nothing.
  void SetComPort(int32_t port);
  // A port our own front ends name beyond ComPort's four ("COM7", a device
  // path), opened instead of "COM" + ComPort; "" goes back to ComPort. A
  // change closes the port, as a change of ComPort does.
  const std::string& PortPath() const;
  void SetPortPath(const std::string& name);
  // The port the session opens: PortPath, or "COM" + ComPort.
  std::string PortName() const;
  uint8_t SearchPriority() const;
  void SetSearchPriority(uint8_t value);

  // The window thread's request: the worker is switched off meanwhile; up to
  // 6 attempts; on success the answer (at least 6 bytes) is in LastAnswer.
  // Raises PortLostError once when the port has gone (see ReportPortLoss),
  // and SimulatorUnavailable when the simulator cannot be reached.
  bool DirectRequest(const Bytes& request, uint8_t mode);
  // One attempt of a direct request whose short-class read waits
  // `shortLimitMs` at most (never longer than the line settings allow).
  bool ProbeOnce(const Bytes& request, uint8_t mode, uint32_t shortLimitMs);
  // The worker's requests: up to 11 attempts with per-address bookkeeping,
  // and up to 4 without.
  bool WorkerRequest(const Bytes& request, uint8_t mode);
  bool ShortRequest(const Bytes& request, uint8_t mode);
  // The answer of the latest successful direct request; empty after a failed one.
  const Bytes& LastAnswer() const;

  // 0 for an address outside 1..127.
  uint16_t GetDeviceType(uint8_t addr) const;
  // Ignores an address outside 1..127.
  void SetDeviceType(uint8_t addr, uint16_t value);
  // The version byte an identification reported (hundredths); 0 for an
  // address outside 1..127. The setter ignores such an address.
  uint8_t DeviceVersion(uint8_t addr) const;
  void SetDeviceVersion(uint8_t addr, uint8_t value);
  // "Адрес: %3d  %s (версия  %3.2f)" for an address of 1..127, with the
  // locale's decimal separator or the one given.
  std::string DescribeDevice(uint8_t addr) const;
  std::string DescribeDevice(uint8_t addr, char separator) const;
  SessionStatistics Statistics() const;

  // Dispatches messages 1035 and 1037 to the handlers; runs on the owner's
  // thread. A handler's exception is dropped.
  void MessageHandler(const TMessage& message);
  // Hands a message to MessageHandler on the owner's thread and waits.
  void SendToOwner(uint32_t msg, int32_t wParam, void* lParam);

  // Host operations: they fill what the worker reads in its layouts, safely
  // from any thread but a handler run on the worker.
  // Entries 1..n of the poll list in polling order, 0 for an empty slot.
  // False, changing nothing, for more than 2500 entries or an entry above 127.
  bool SetPollSchedule(const std::vector<uint8_t>& addresses);
  // Queues a request (address first, cut to 64 bytes) for the worker. False
  // when the ring already holds 255 requests: a further one would make it
  // read as empty.
  bool QueueRequest(const Bytes& request);
  // Period of the ADC subscription step; 0 switches it off.
  void SetAdcPeriod(uint32_t periodMs);
  // DeviceTimeout and the poll weight of every address (1..128 is the room
  // the lost test was made for).
  void SetLostThresholds(int32_t deviceTimeout, uint8_t pollWeight);
  // A bus command for the worker (address first, at most 255 bytes), answered
  // through OnAsynchAnswer. False, queuing nothing, for `msg` 1035, which
  // marks subscription requests.
  bool PostAsyncCommand(uint32_t postHandle, uint32_t msg, int32_t wParam, const Bytes& request);
  // Subscription requests (1035 with 669, 667, 666, 668).
  void SubscribeLoop(uint8_t addr, uint8_t loop, const Bytes& data = {});
  void UnsubscribeLoop(uint8_t addr, uint8_t loop);
  void UnsubscribeDevice(uint8_t addr);
  void UnsubscribeAll();

  // The line itself, for the tools that look at it (transport/bus_state.h
  // has the types). The exchanges go to the simulator instead of a port.
  bool SimulatorMode() const;
  // (Re)opens and configures the port, or binds the bus driver; false only
  // when the port cannot be opened. Throws PortSettingsError when the port
  // instance's "Settings" cannot be saved.
  bool OpenPort();
  // Closes the port, or releases the bus driver and puts its "Settings" back.
  void ClosePort();
  // Why the last OpenPort failed, and the same in one line for the user.
  OpenFailure OpenFailureOf() const;
  std::string DescribeOpenFailure() const;
  // Raises PortLostError when the line was given up with an account of its
  // own (a server that floods as it opens) and that loss was not raised yet.
  void ReportDroppedLine();
  // The port's own account of why it failed; "" when it has none or there is
  // no port.
  std::string PortFailure() const;
  // Every attempt of every exchange, while switched on.
  BusTrace& Trace();
  const LineSettings& Settings() const;
  // The line turns round by itself (SmartPI, the kernel's RS-485 mode, a
  // network server); the kernel's RS-485 mode was taken at the last open.
  bool LineTurnsItself() const;
  bool KernelTurnsLine() const;
  // How much later than on a local line an answer may come: what the port has
  // measured of its network, the line's NetworkAllowance at most.
  uint32_t NetworkAllowanceMs() const;
  // What the read of the latest exchange heard, taken or not.
  HeardAnswer LastHeard() const;
  // The services the session was made with.
  const Platform& Services() const;
  // Puts a port of the caller's making between the session and its port
  // (one that times the line, say); `wrap` is given the port and returns
  // the one the session uses from then on.
  void WrapPort(
      const std::function<std::unique_ptr<SerialPort>(std::unique_ptr<SerialPort>)>& wrap);
  // One attempt of a request on the line, keyed as the line settings want,
  // with nothing of the session's bookkeeping: no retry, no worker switch,
  // no LastAnswer.
  bool ExchangeOnce(const Bytes& request);

 private:
  // The session's own parts and their tests reach the state through it.
  friend SessionCore& CoreOf(TRSSession& session);
  std::unique_ptr<SessionCore> core_;
};

}  // namespace loopmon
