#pragma once
// TRSSession: the component through which every window reaches the bus. It
// owns the connection, the per-address tables, the worker thread and the
// hand-over of bus findings to the owner's thread.
//
// Sketch of the interface other parts code against; members may be added.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "transport/bus_state.h"

namespace loopmon {

inline constexpr uint16_t NoDevice = 128;

// Runs a call synchronously on the owner's thread (the GUI thread, or a
// loop of the host's own), directly when already on it.
class OwnerDispatcher {
 public:
  virtual ~OwnerDispatcher() = default;
  virtual void invokeSync(const std::function<void()>& call) = 0;
};

// Runs every call at once on the calling thread.
class DirectDispatcher : public OwnerDispatcher {
 public:
  void invokeSync(const std::function<void()>& call) override { call(); }
};

using TRSDeviceProc1 = std::function<void(uint8_t Addr)>;
using TRSDeviceProc2 = std::function<void(const Bytes& Event)>;
using TRSDeviceProcA = std::function<void(const Bytes& Event, uint8_t NumEvent, uint8_t NumShl,
                                          int32_t TypeEvent, const void* Data, int32_t lData)>;
using TRSDetectTypeEventA = std::function<void(uint8_t AddrDevice, uint8_t AddrShl,
                                               int32_t TypeDevice, int32_t TypeEventShl)>;

// Model name of a device type code.
std::string DeviceTypeName(uint8_t code);

class TRSSession : public BusState {
 public:
  explicit TRSSession(Platform platform, std::shared_ptr<OwnerDispatcher> owner = nullptr);
  ~TRSSession() override;

  TRSDeviceProc2 OnNewEvent;
  TRSDeviceProc1 OnLostDevice;
  TRSDeviceProc1 OnNewDevice;
  TRSDeviceProc1 OnFalseDevice;
  TRSDeviceProcA OnNewADC;
  TRSDetectTypeEventA OnNewTypeEventADC;

  bool Work() const;
  void SetWork(bool value);
  void SetComPort(int32_t port);
  uint8_t SearchPriority() const;
  void SetSearchPriority(uint8_t value);

  // Up to 6 attempts; on success the answer (at least 6 bytes) is in LastAnswer.
  bool DirectRequest(const Bytes& request, uint8_t mode);

  uint16_t GetDeviceType(uint8_t addr) const;
  void SetDeviceType(uint8_t addr, uint16_t value);
  std::string DescribeDevice(uint8_t addr) const;

  std::array<uint16_t, 128> DeviceTypes{};
  std::array<uint8_t, 128> DeviceVersions{};
};

}  // namespace loopmon
