#include <string>
#include <utility>
#include <vector>

#include "platform/serial/port_names.h"
#include "transport/bus_state.h"

namespace loopmon {

namespace {

constexpr uint32_t ReceiveQueueBytes = 300;
constexpr uint32_t LineBaudRate = 9600;

// The instance subkeys whose "PortName" is exactly "COM<port>".
std::vector<std::string> instancesOf(const Registry& registry, int32_t port) {
  const std::string name = comPortName(port);
  std::vector<std::string> keys;
  for (const std::string& subkey : registry.subkeys(SerialInstancesKey)) {
    const std::string key = std::string(SerialInstancesKey) + "\\" + subkey;
    std::optional<RegValue> portName = registry.read(key, "PortName");
    if (portName && portName->type == RegType::String && portName->text == name) {
      keys.push_back(key);
    }
  }
  return keys;
}

// Puts back what the last bind replaced: the saved "Settings", or no value at
// all when there was none before.
void restorePortSettings(BusState& bus) {
  Registry& registry = *bus.platform.registry;
  const Registry::Batch batch(registry);
  for (const std::string& key : instancesOf(registry, bus.BoundComPort)) {
    if (bus.PortSettingsSaved) {
      registry.write(key, "Settings", RegValue::ofBinary(bus.SavedPortSettings));
    } else {
      registry.remove(key, "Settings");
    }
  }
}

// While the driver owns the port, the operating system's own settings for that
// port are blanked; the previous ones are saved for the release.
void bindDriver(BusState& bus) {
  Registry& registry = *bus.platform.registry;
  const Registry::Batch batch(registry);
  const std::vector<std::string> instances = instancesOf(registry, bus.ComPort);
  // Refuse before changing anything: such a value could not be put back.
  for (const std::string& key : instances) {
    std::optional<RegValue> settings = registry.read(key, "Settings");
    if (settings && (settings->type != RegType::Binary || settings->bytes.size() > 4)) {
      throw PortSettingsError("The value \"Settings\" of \"" + key +
                              "\" is not binary data of at most 4 bytes");
    }
  }
  // A bind on top of a bind would otherwise save the blanked value as the
  // original one.
  if (bus.DriverReady) restorePortSettings(bus);

  bus.PortSettingsSaved = false;
  bus.BoundComPort = bus.ComPort;
  for (const std::string& key : instances) {
    std::optional<RegValue> settings = registry.read(key, "Settings");
    bus.PortSettingsSaved = settings.has_value();
    if (settings) bus.SavedPortSettings = settings->bytes;
    registry.write(key, "Settings", RegValue::ofBinary({0, 0, 0, 0}));
  }
  uint32_t port = static_cast<uint32_t>(bus.ComPort);
  uint8_t ignored[4];
  bus.Driver->control(DriverCode::Bind, &port, sizeof port, ignored, sizeof ignored);
  bus.DriverReady = true;
}

bool openSerial(BusState& bus) {
  if (!bus.Port) return false;
  SerialPort& port = *bus.Port;
  if (port.isOpen()) port.close();
  if (!port.open(bus.PortName())) {
    NoteDroppedLine(bus);
    return false;
  }

  // Failures of the configuration calls go unnoticed: a port that opened is
  // used as it is.
  CommState state;
  port.getState(state);
  state.baudRate = LineBaudRate;
  state.byteSize = 8;
  state.parity = 0;
  state.stopBits = 0;
  state.dtrControlAuto = false;
  state.rtsControlAuto = false;
  state.abortOnError = false;
  port.setState(state);
  port.setupQueues(ReceiveQueueBytes, 0);

  SetReadTimeouts(bus, false);
  bus.PortLost = false;
  bus.PortLossReported = false;
  bus.PortDropReason.clear();
  bus.KernelTurnsLine = bus.Settings.KernelRS485 && port.enableKernelRs485();
  return true;
}

}  // namespace

void SetReadTimeouts(BusState& bus, bool shortClass) {
  SerialPort& port = *bus.Port;
  // Read, then written back with every field set, as a comm port's record is.
  CommTimeouts timeouts;
  port.getTimeouts(timeouts);
  timeouts = ReadTimeouts(bus.Settings, shortClass, port.isRemote());
  if (port.isRemote()) {
    // What the port has measured of its network shortens the wait for an
    // answer; a pause within an answer keeps the whole allowance, as the
    // network's jitter comes in there and costs a silent address nothing.
    LineSettings measured = bus.Settings;
    measured.NetworkAllowance = NetworkAllowanceMs(bus);
    timeouts.readTotalConstantMs = ReadTimeouts(measured, shortClass, true).readTotalConstantMs;
  }
  port.setTimeouts(timeouts);
}

uint32_t NetworkAllowanceMs(const BusState& bus) {
  return bus.Port ? bus.Port->networkAllowanceMs(bus.Settings.NetworkAllowance)
                  : bus.Settings.NetworkAllowance;
}

bool OpenPort(BusState& bus) {
  if (!bus.HasDriver()) return openSerial(bus);
  bindDriver(bus);
  return true;
}

OpenFailure OpenFailureOf(const BusState& bus) {
  OpenFailure failure;
  failure.port = bus.PortName();
  if (bus.Port) {
    failure.lineFailure = bus.Port->failure();
    failure.error = bus.Port->openError();
  }
  failure.device = !failure.error.device.empty() ? failure.error.device
                   : bus.platform.registry ? resolvePortName(*bus.platform.registry, failure.port)
                                           : failure.port;
  return failure;
}

std::string DescribeOpenFailure(const BusState& bus) {
  const OpenFailure failure = OpenFailureOf(bus);
  if (!failure.lineFailure.empty()) return failure.lineFailure;
  const std::string shown =
      failure.device == failure.port ? failure.port : failure.port + " (" + failure.device + ")";
  return shown + ": " +
         (failure.error.kind == OpenErrorKind::None ? "the port cannot be opened"
                                                    : describeOpenError(failure.error));
}

void NoteDroppedLine(BusState& bus) {
  if (!bus.Port) return;
  std::string why = bus.Port->takeDropped();
  if (why.empty()) return;
  bus.PortLost = true;
  bus.PortLossReported = false;
  bus.PortDropReason = std::move(why);
}

void ReportPortLoss(BusState& bus) {
  if (!bus.PortLost || bus.PortLossReported) return;
  bus.PortLossReported = true;
  if (!bus.PortDropReason.empty()) throw PortLostError(bus.PortDropReason);
  const std::string name = bus.PortName();
  throw PortLostError(name +
                      ": the port is lost (is the converter unplugged?); the next request tries "
                      "to open it again");
}

void ClosePort(BusState& bus) {
  if (!bus.HasDriver()) {
    if (bus.PortOpen()) bus.Port->close();
    return;
  }
  uint8_t ignored[4];
  bus.Driver->control(DriverCode::Release, nullptr, 0, ignored, sizeof ignored);
  const bool wasBound = bus.DriverReady;
  bus.DriverReady = false;
  // A release that follows no bind leaves the registry alone: whatever
  // "Settings" holds then was not written here.
  if (wasBound) restorePortSettings(bus);
}

}  // namespace loopmon
