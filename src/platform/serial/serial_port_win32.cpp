// The serial port through the Win32 comm API, call for call as the bus engine
// asks for it: synchronous handle, no sharing, the engine's own time-outs.

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>

#include "platform/serial/serial_port.h"
#include "platform/system/windows_api_win32.h"

namespace loopmon {
namespace {

// "COM1".."COM9" open under their plain names too, but COM10 and above, and
// ports a converter driver names freely, only under the device namespace.
std::wstring devicePath(const std::string& name) {
  const bool comName = name.size() > 3 &&
                       std::toupper(static_cast<unsigned char>(name[0])) == 'C' &&
                       std::toupper(static_cast<unsigned char>(name[1])) == 'O' &&
                       std::toupper(static_cast<unsigned char>(name[2])) == 'M' &&
                       std::all_of(name.begin() + 3, name.end(),
                                   [](unsigned char c) { return std::isdigit(c) != 0; });
  return win32::widen(comName ? "\\\\.\\" + name : name);
}

// A port opened by another program answers "access denied": ports are never
// shared, so that is the busy case, not a missing right.
OpenErrorKind openErrorKind(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
      return OpenErrorKind::NotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return OpenErrorKind::Busy;
    default:
      return OpenErrorKind::Other;
  }
}

DWORD purgeFlag(PurgeAction action) {
  switch (action) {
    case PurgeAction::TxClear:
      return PURGE_TXCLEAR;
    case PurgeAction::TxAbort:
      return PURGE_TXABORT;
    case PurgeAction::RxClear:
      return PURGE_RXCLEAR;
    case PurgeAction::RxAbort:
      return PURGE_RXABORT;
  }
  return 0;
}

DWORD chunk(size_t count) {
  return static_cast<DWORD>(std::min<size_t>(count, MAXDWORD));
}

// Write time-outs of 0 mean none: a port that has stopped taking bytes (a
// wedged adapter) would hold the bus thread for good. Such a write ends after
// two character times a byte at 9600 baud and a second, and the port is
// given up; the engine's own values are what getTimeouts reports.
constexpr DWORD StalledWriteMultiplierMs = 2;
constexpr DWORD StalledWriteConstantMs = 1000;

class Win32SerialPort final : public SerialPort {
 public:
  ~Win32SerialPort() override { close(); }

  bool open(const std::string& name) override {
    close();
    handle_ = CreateFileW(devicePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                          OPEN_EXISTING, 0, nullptr);
    error_ = {OpenErrorKind::None, name, {}};
    name_ = name;
    unboundedWrites_ = false;
    if (!isOpen()) {
      const DWORD code = GetLastError();
      error_.kind = openErrorKind(code);
      error_.osText = win32::systemMessage(code);
    }
    return isOpen();
  }

  void close() override {
    if (!isOpen()) return;
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

  bool isOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }

  OpenError openError() const override { return error_; }

  bool getState(CommState& state) override {
    DCB dcb{};
    if (!readDcb(dcb)) return false;
    state.baudRate = dcb.BaudRate;
    state.byteSize = dcb.ByteSize;
    state.parity = dcb.Parity;
    state.stopBits = dcb.StopBits;
    state.dtrControlAuto = dcb.fDtrControl == DTR_CONTROL_HANDSHAKE;
    state.rtsControlAuto =
        dcb.fRtsControl == RTS_CONTROL_HANDSHAKE || dcb.fRtsControl == RTS_CONTROL_TOGGLE;
    state.abortOnError = dcb.fAbortOnError != 0;
    return true;
  }

  // The record the port holds is read first, so every field the engine does
  // not name stays as the port had it.
  bool setState(const CommState& state) override {
    DCB dcb{};
    if (!readDcb(dcb)) return false;
    dcb.BaudRate = state.baudRate;
    dcb.ByteSize = state.byteSize;
    dcb.Parity = state.parity;
    dcb.StopBits = state.stopBits;
    dcb.fDtrControl = state.dtrControlAuto ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_DISABLE;
    dcb.fRtsControl = state.rtsControlAuto ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = state.abortOnError ? TRUE : FALSE;
    return SetCommState(handle_, &dcb) != 0;
  }

  bool setupQueues(uint32_t receiveBytes, uint32_t transmitBytes) override {
    return SetupComm(handle_, receiveBytes, transmitBytes) != 0;
  }

  bool getTimeouts(CommTimeouts& timeouts) override {
    COMMTIMEOUTS t{};
    if (!GetCommTimeouts(handle_, &t)) return false;
    timeouts.readIntervalMs = t.ReadIntervalTimeout;
    timeouts.readTotalMultiplierMs = t.ReadTotalTimeoutMultiplier;
    timeouts.readTotalConstantMs = t.ReadTotalTimeoutConstant;
    timeouts.writeTotalMultiplierMs = unboundedWrites_ ? 0 : t.WriteTotalTimeoutMultiplier;
    timeouts.writeTotalConstantMs = unboundedWrites_ ? 0 : t.WriteTotalTimeoutConstant;
    return true;
  }

  bool setTimeouts(const CommTimeouts& timeouts) override {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = timeouts.readIntervalMs;
    t.ReadTotalTimeoutMultiplier = timeouts.readTotalMultiplierMs;
    t.ReadTotalTimeoutConstant = timeouts.readTotalConstantMs;
    t.WriteTotalTimeoutMultiplier = timeouts.writeTotalMultiplierMs;
    t.WriteTotalTimeoutConstant = timeouts.writeTotalConstantMs;
    unboundedWrites_ = t.WriteTotalTimeoutMultiplier == 0 && t.WriteTotalTimeoutConstant == 0;
    if (unboundedWrites_) {
      t.WriteTotalTimeoutMultiplier = StalledWriteMultiplierMs;
      t.WriteTotalTimeoutConstant = StalledWriteConstantMs;
    }
    return SetCommTimeouts(handle_, &t) != 0;
  }

  bool purge(PurgeAction action) override { return PurgeComm(handle_, purgeFlag(action)) != 0; }

  // A synchronous WriteFile returns once the comm driver has sent the bytes.
  bool drain() override { return handle_ != INVALID_HANDLE_VALUE; }

  bool setDtr(bool on) override { return EscapeCommFunction(handle_, on ? SETDTR : CLRDTR) != 0; }

  bool setRts(bool on) override { return EscapeCommFunction(handle_, on ? SETRTS : CLRRTS) != 0; }

  uint32_t takeLineErrors() override {
    DWORD errors = 0;
    if (!ClearCommError(handle_, &errors, nullptr)) return 0;
    return errors;
  }

  size_t read(uint8_t* buffer, size_t count) override {
    // A read cut short by a line error still hands over what it got.
    DWORD done = 0;
    ReadFile(handle_, buffer, chunk(count), &done, nullptr);
    return done;
  }

  size_t write(const uint8_t* buffer, size_t count) override {
    DWORD done = 0;
    const bool written = WriteFile(handle_, buffer, chunk(count), &done, nullptr) != 0;
    if (written && done < count && unboundedWrites_) {
      dropped_ = name_ + ": the port takes no bytes (a write stalled for over " +
                 std::to_string(StalledWriteConstantMs / 1000) +
                 " s: a wedged adapter?); the port is closed";
      close();
    }
    return done;
  }

  std::string takeDropped() override { return std::exchange(dropped_, {}); }

 private:
  bool readDcb(DCB& dcb) {
    dcb.DCBlength = sizeof dcb;
    return GetCommState(handle_, &dcb) != 0;
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  OpenError error_;
  std::string name_;
  // The engine asked for writes without a time-out; they get the stall limit.
  bool unboundedWrites_ = false;
  std::string dropped_;
};

}  // namespace

std::unique_ptr<SerialPort> makeSerialPort() {
  return std::make_unique<Win32SerialPort>();
}

std::string openErrorAdvice(const OpenError& error) {
  return error.kind == OpenErrorKind::NotFound
             ? " (is the converter plugged in and its driver installed?)"
             : std::string{};
}

}  // namespace loopmon
