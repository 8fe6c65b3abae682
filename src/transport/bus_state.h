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

#include "platform/platform.h"
#include "transport/frame.h"
#include "transport/line_settings.h"

namespace loopmon {

// The answer frame of the latest exchange. `count` is emptied by a nested
// exchange while the bytes stay, which the acknowledgement relies on.
struct AnswerBuffer {
  std::array<uint8_t, MaxFrameBytes> bytes{};
  uint8_t count = 0;
  Bytes toBytes() const { return Bytes(bytes.begin(), bytes.begin() + count); }
};

// The simulator's process-wide state: the mode flag, the direct-side object
// (present only during a direct-side exchange) and the worker-side object.
struct SimulatorState {
  bool enabled = false;
  std::atomic<bool> directBusy{false};
  std::unique_ptr<SimulatorObject> workerObject;
};

class BusState {
 public:
  explicit BusState(Platform platform);
  virtual ~BusState();
  BusState(const BusState&) = delete;
  BusState& operator=(const BusState&) = delete;

  Platform platform;

  int32_t ComPort = 1;
  std::unique_ptr<SerialPort> Port;      // PortHandle: open when Port->isOpen()
  std::unique_ptr<BusDriver> Driver;     // DriverHandle: null when there is none
  bool DriverReady = false;
  std::array<uint8_t, 4> SavedPortSettings{};
  bool PortSettingsSaved = false;

  int64_t CounterFrequency = 0;
  int64_t StartCounter = 0;
  LineSettings Settings;

  std::array<uint16_t, 128> KeyWord{};
  bool KeyedMode = false;

  AnswerBuffer AnswerFrame;
  Bytes Answer;
  Bytes LastAnswer;
  uint32_t LineErrorCount = 0;

  SimulatorState Simulator;

  bool PortOpen() const { return Port && Port->isOpen(); }
  bool HasDriver() const { return Driver != nullptr; }
  CrcTable crcTable() const { return Settings.PublishedCrcTable ? CrcTable::Published : CrcTable::Carried; }
};

// Port access.
bool OpenPort(BusState& bus);
void ClosePort(BusState& bus);
// Reads the line settings; throws LineSettingsError for a value of the wrong type.
void LoadLineSettings(BusState& bus);

// A copy of the request, in keyed form when keyed mode applies.
Bytes PrepareRequest(const BusState& bus, const Bytes& request);

// One exchange. `mode` 0: no answer awaited.
bool Transact(BusState& bus, const Bytes& request, uint8_t mode);

// The simulator exchanges (same contract as Transact).
bool SimTransactDirect(BusState& bus, const Bytes& request, uint8_t mode);
bool SimTransactWorker(BusState& bus, const Bytes& request, uint8_t mode);

}  // namespace loopmon
