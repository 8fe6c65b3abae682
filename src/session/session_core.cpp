#include "session/session_core.h"

#include <algorithm>
#include <utility>

#include "common/number_text.h"
#include "platform/system/locale_info.h"
#include "session/device_names.h"
#include "session/worker.h"

namespace loopmon {

namespace {

constexpr uint8_t FirstAddress = 1;
constexpr uint8_t LastAddress = 127;

bool isDeviceAddress(uint8_t addr) {
  return addr >= FirstAddress && addr <= LastAddress;
}

constexpr int DirectAttempts = 6;
constexpr int WorkerAttempts = 11;
constexpr int ShortAttempts = 4;

}  // namespace

SessionCore::SessionCore(TRSSession& host, Platform services,
                         std::shared_ptr<OwnerDispatcher> owner)
    : BusState(std::move(services)), host_(host) {
  bool driverTaken = false;
  InstanceMutex = platform.markers->create("MutexVELTA485", driverTaken);
  if (!driverTaken && platform.makeBusDriver) {
    auto driver = platform.makeBusDriver();
    if (driver && driver->open()) Driver = std::move(driver);
  }

  CounterFrequency = platform.clock->counterFrequency();
  StartCounter = platform.clock->counter();

  DriverReady = false;
  PortSettingsSaved = false;

  IsNT = platform.isNt;
  IsNT5 = platform.isNt5;

  Settings.DeviceTimeout = 10;

  if (Driver) {
    uint32_t port = static_cast<uint32_t>(ComPort);
    uint32_t ignored = 0;
    Driver->control(DriverCode::Bind, &port, sizeof port, &ignored, sizeof ignored);
  }
  LoadLineSettings(*this);
  for (int addr = FirstAddress; addr <= LastAddress; ++addr) {
    PollWeight[addr] = 128;
    DeviceTypes[addr] = NoDevice;
    DeviceVersions[addr] = 0;
    KeyWord[addr] = NoKey;
  }
  PollDivisor = 15;

  bool ignoredExisted = false;
  BusMutex = platform.markers->create("VELTA_RS485_MUTEX", ignoredExisted);
  VeltaMutex = platform.markers->create("VELTA", ignoredExisted);

  // Only the presence of the marker matters; holding it would keep it alive
  // for later sessions after the simulator has gone.
  Simulator.enabled = platform.markers->openExisting("SIMUL") != nullptr;

  SetWork(false);

  owner_ = owner ? std::move(owner) : std::make_shared<DirectDispatcher>();

  worker_ = std::make_unique<SessionWorker>(*this);
  Thread = std::make_unique<TRSSessionThread>([this] { worker_->Cycle(); });
}

SessionCore::~SessionCore() {
  SetWork(false);
  // Also when Work was found off already: a handler run on the worker may
  // have switched it off without waiting for the worker.
  Thread->Suspend();
  CloseDeliveries();
  Thread.reset();

  InstanceMutex.reset();

  // ClosePort releases the driver's port and puts back the port's registry
  // settings only when this session changed them.
  ClosePort(*this);
  if (Driver) {
    Driver->close();
    Driver.reset();
  }
  DriverReady = false;

  BusMutex.reset();
  VeltaMutex.reset();

  Simulator.workerObject.reset();
}

void SessionCore::SetWork(bool value) {
  if (value == Work_) return;
  Work_ = value;
  if (!Thread) return;
  if (value) {
    Thread->Resume();
  } else {
    Thread->Suspend();
  }
}

void SessionCore::SetComPort(int32_t port) {
  if (port == ComPort || port < 1 || port > 4) return;
  const bool wasWorking = Work();
  SetWork(false);
  ComPort = port;
  ClosePort(*this);
  SetWork(wasWorking);
}

void SessionCore::SetPortPath(const std::string& name) {
  if (name == PortPath) return;
  const bool wasWorking = Work();
  SetWork(false);
  PortPath = name;
  ClosePort(*this);
  SetWork(wasWorking);
}

void SessionCore::SetSearchPriority(uint8_t value) {
  if (value != SearchPriority_) SearchPriority_ = value;
}

bool SessionCore::Request(const Bytes& request, uint8_t mode, int attempts, bool bookkeeping) {
  ++RequestCount;
  bool done = false;
  const uint64_t exchange = Trace.nextExchange();
  // Exchanges after this request, also after one that raised, are their own.
  struct LabelReset {
    BusTrace& trace;
    ~LabelReset() { trace.current = {}; }
  } reset{Trace};
  for (int attempt = 0; attempt < attempts && !done; ++attempt) {
    Trace.current = {exchange, static_cast<uint8_t>(attempt + 1), static_cast<uint8_t>(attempts)};
    const Bytes prepared = PrepareRequest(*this, request);
    done = Simulator.enabled ? SimTransactDirect(*this, prepared, mode)
                             : Transact(*this, prepared, mode);
    ++AttemptCount;
    if (!done) ++AttemptFailCount;
    // A line the port gave up (it floods, its writes stall) is not tried
    // again within the request: the caller hears of it at once.
    if (!done && PortLost && !PortDropReason.empty()) break;
  }
  if (!bookkeeping) return done;

  const uint8_t addr = request.empty() ? 0 : request[FrameOffset::Address];
  if (!done) {
    ++RequestFailCount;
    if (isDeviceAddress(addr)) ++MissCount[addr];
    return false;
  }
  if (isDeviceAddress(addr)) {
    MissCount[addr] = 0;
    LastAnswerTime[addr] = platform.clock->nowDays();
  }
  if (LostSet.test(addr)) {
    LostSet.reset(addr);
    uint8_t found = addr;
    HandOverToOwner(SessionMessage::Device, SessionMessage::NewDevice, &found);
  }
  return true;
}

bool SessionCore::DirectRequest(const Bytes& request, uint8_t mode) {
  return windowRequest(request, mode, DirectAttempts);
}

bool SessionCore::ProbeOnce(const Bytes& request, uint8_t mode, uint32_t shortLimitMs) {
  struct LimitRestore {
    uint32_t& constant;
    uint32_t kept;
    ~LimitRestore() { constant = kept; }
  } restore{Settings.TimeoutConstant, Settings.TimeoutConstant};
  Settings.TimeoutConstant = std::min(Settings.TimeoutConstant, shortLimitMs);
  return windowRequest(request, mode, 1);
}

bool SessionCore::windowRequest(const Bytes& request, uint8_t mode, int attempts) {
  // Work is put back also when the simulator cannot be reached and the
  // request ends with an exception.
  struct WorkRestore {
    SessionCore& session;
    bool wasWorking;
    ~WorkRestore() { session.SetWork(wasWorking); }
  } restore{*this, Work()};
  SetWork(false);

  bool done = Request(request, mode, attempts, true);
  // The window hears of a lost port once, rather than a row of silent
  // failures; the worker's own requests only see devices fall silent.
  ReportPortLoss(*this);
  if (done && Answer.size() >= 6) {
    LastAnswer = Answer;
  } else {
    LastAnswer.clear();
    done = false;
  }
  return done;
}

bool SessionCore::WorkerRequest(const Bytes& request, uint8_t mode) {
  return Request(request, mode, WorkerAttempts, true);
}

bool SessionCore::ShortRequest(const Bytes& request, uint8_t mode) {
  return Request(request, mode, ShortAttempts, false);
}

uint16_t SessionCore::GetDeviceType(uint8_t addr) const {
  return isDeviceAddress(addr) ? DeviceTypes[addr] : 0;
}

void SessionCore::SetDeviceType(uint8_t addr, uint16_t value) {
  if (isDeviceAddress(addr)) DeviceTypes[addr] = value;
}

uint8_t SessionCore::DeviceVersion(uint8_t addr) const {
  return isDeviceAddress(addr) ? DeviceVersions[addr] : 0;
}

void SessionCore::SetDeviceVersion(uint8_t addr, uint8_t value) {
  if (isDeviceAddress(addr)) DeviceVersions[addr] = value;
}

SessionStatistics SessionCore::Statistics() const {
  return {CycleCount,       RequestCount,     AttemptCount,
          AttemptFailCount, RequestFailCount, PollFailCount};
}

std::string SessionCore::DescribeDevice(uint8_t addr, char separator) const {
  const uint8_t typeCode = static_cast<uint8_t>(GetDeviceType(addr));
  const uint8_t version = DeviceVersion(addr);
  // Under 50 characters: the short-string limit of 255 never applies.
  return DeviceDescription(addr, DeviceTypeName(typeCode), version, separator);
}

void SessionCore::SendToOwner(uint32_t msg, int32_t wParam, void* lParam) {
  const TMessage message{msg, wParam, lParam, 0};
  owner_->invokeSync([this, &message] { host_.MessageHandler(message); });
}

}  // namespace loopmon
