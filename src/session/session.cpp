#include "session/session.h"

#include <utility>

#include "platform/system/locale_info.h"
#include "session/session_core.h"

namespace loopmon {

void TRSSession::MessageHandler(const TMessage& message) {
  try {
    if (message.Msg == SessionMessage::AsyncAnswer) {
      const auto& command = *static_cast<const AsyncCommand*>(message.LParam);
      if (OnAsynchAnswer) OnAsynchAnswer(command.PostHandle, command.Message);
      return;
    }
    if (message.Msg != SessionMessage::Device) return;
    switch (message.WParam) {
      case SessionMessage::LostDevice:
        if (OnLostDevice) OnLostDevice(*static_cast<const uint8_t*>(message.LParam));
        break;
      case SessionMessage::NewDevice:
        if (OnNewDevice) OnNewDevice(*static_cast<const uint8_t*>(message.LParam));
        break;
      case SessionMessage::FalseDevice:
        if (OnFalseDevice) OnFalseDevice(*static_cast<const uint8_t*>(message.LParam));
        break;
      case SessionMessage::NewEvent: {
        const auto& event = *static_cast<const Bytes*>(message.LParam);
        if (event.size() >= 6 && OnNewEvent) OnNewEvent(event);
        break;
      }
      case SessionMessage::NewAdc: {
        const auto& report = *static_cast<const TAdcReport*>(message.LParam);
        if (OnNewADC) {
          OnNewADC(report.Event, report.NumEvent, report.NumShl, report.TypeEvent, report.Data,
                   report.lData);
        }
        break;
      }
      case SessionMessage::NewTypeEventAdc: {
        const auto& report = *static_cast<const TTypeReport*>(message.LParam);
        if (OnNewTypeEventADC) {
          OnNewTypeEventADC(report.AddrDevice, report.AddrShl, report.TypeDevice,
                            report.TypeEventShl);
        }
        break;
      }
      default:
        break;
    }
  } catch (...) {
    // A failing handler must not take the worker or the dispatch down with it.
  }
}

TRSSession::TRSSession(Platform platform, std::shared_ptr<OwnerDispatcher> owner)
    : core_(std::make_unique<SessionCore>(*this, std::move(platform), std::move(owner))) {}

// The worker stops before the handlers it may be running go.
TRSSession::~TRSSession() {
  core_.reset();
}

bool TRSSession::Work() const {
  return core_->Work();
}

void TRSSession::SetWork(bool value) {
  core_->SetWork(value);
}

int32_t TRSSession::ComPort() const {
  return core_->ComPort;
}

void TRSSession::SetComPort(int32_t port) {
  core_->SetComPort(port);
}

const std::string& TRSSession::PortPath() const {
  return core_->PortPath;
}

void TRSSession::SetPortPath(const std::string& name) {
  core_->SetPortPath(name);
}

std::string TRSSession::PortName() const {
  return core_->PortName();
}

uint8_t TRSSession::SearchPriority() const {
  return core_->SearchPriority();
}

void TRSSession::SetSearchPriority(uint8_t value) {
  core_->SetSearchPriority(value);
}

bool TRSSession::DirectRequest(const Bytes& request, uint8_t mode) {
  return core_->DirectRequest(request, mode);
}

bool TRSSession::ProbeOnce(const Bytes& request, uint8_t mode, uint32_t shortLimitMs) {
  return core_->ProbeOnce(request, mode, shortLimitMs);
}

bool TRSSession::WorkerRequest(const Bytes& request, uint8_t mode) {
  return core_->WorkerRequest(request, mode);
}

bool TRSSession::ShortRequest(const Bytes& request, uint8_t mode) {
  return core_->ShortRequest(request, mode);
}

const Bytes& TRSSession::LastAnswer() const {
  return core_->LastAnswer;
}

uint16_t TRSSession::GetDeviceType(uint8_t addr) const {
  return core_->GetDeviceType(addr);
}

void TRSSession::SetDeviceType(uint8_t addr, uint16_t value) {
  core_->SetDeviceType(addr, value);
}

uint8_t TRSSession::DeviceVersion(uint8_t addr) const {
  return core_->DeviceVersion(addr);
}

void TRSSession::SetDeviceVersion(uint8_t addr, uint8_t value) {
  core_->SetDeviceVersion(addr, value);
}

std::string TRSSession::DescribeDevice(uint8_t addr) const {
  return DescribeDevice(addr, userDecimalSeparator());
}

std::string TRSSession::DescribeDevice(uint8_t addr, char separator) const {
  return core_->DescribeDevice(addr, separator);
}

SessionStatistics TRSSession::Statistics() const {
  return core_->Statistics();
}

void TRSSession::SendToOwner(uint32_t msg, int32_t wParam, void* lParam) {
  core_->SendToOwner(msg, wParam, lParam);
}

bool TRSSession::SetPollSchedule(const std::vector<uint8_t>& addresses) {
  return core_->SetPollSchedule(addresses);
}

bool TRSSession::QueueRequest(const Bytes& request) {
  return core_->QueueRequest(request);
}

void TRSSession::SetAdcPeriod(uint32_t periodMs) {
  core_->SetAdcPeriod(periodMs);
}

void TRSSession::SetLostThresholds(int32_t deviceTimeout, uint8_t pollWeight) {
  core_->SetLostThresholds(deviceTimeout, pollWeight);
}

bool TRSSession::PostAsyncCommand(uint32_t postHandle, uint32_t msg, int32_t wParam,
                                  const Bytes& request) {
  return core_->PostAsyncCommand(postHandle, msg, wParam, request);
}

void TRSSession::SubscribeLoop(uint8_t addr, uint8_t loop, const Bytes& data) {
  core_->SubscribeLoop(addr, loop, data);
}

void TRSSession::UnsubscribeLoop(uint8_t addr, uint8_t loop) {
  core_->UnsubscribeLoop(addr, loop);
}

void TRSSession::UnsubscribeDevice(uint8_t addr) {
  core_->UnsubscribeDevice(addr);
}

void TRSSession::UnsubscribeAll() {
  core_->UnsubscribeAll();
}

bool TRSSession::SimulatorMode() const {
  return core_->Simulator.enabled;
}

bool TRSSession::OpenPort() {
  return loopmon::OpenPort(*core_);
}

void TRSSession::ClosePort() {
  loopmon::ClosePort(*core_);
}

OpenFailure TRSSession::OpenFailureOf() const {
  return loopmon::OpenFailureOf(*core_);
}

std::string TRSSession::DescribeOpenFailure() const {
  return loopmon::DescribeOpenFailure(*core_);
}

void TRSSession::ReportDroppedLine() {
  if (!core_->PortDropReason.empty()) ReportPortLoss(*core_);
}

std::string TRSSession::PortFailure() const {
  return core_->Port ? core_->Port->failure() : std::string();
}

BusTrace& TRSSession::Trace() {
  return core_->Trace;
}

const LineSettings& TRSSession::Settings() const {
  return core_->Settings;
}

bool TRSSession::LineTurnsItself() const {
  return core_->LineTurnsItself();
}

bool TRSSession::KernelTurnsLine() const {
  return core_->KernelTurnsLine;
}

uint32_t TRSSession::NetworkAllowanceMs() const {
  return loopmon::NetworkAllowanceMs(*core_);
}

HeardAnswer TRSSession::LastHeard() const {
  return core_->LastHeard;
}

const Platform& TRSSession::Services() const {
  return core_->platform;
}

void TRSSession::WrapPort(
    const std::function<std::unique_ptr<SerialPort>(std::unique_ptr<SerialPort>)>& wrap) {
  core_->Port = wrap(std::move(core_->Port));
}

bool TRSSession::ExchangeOnce(const Bytes& request) {
  return Transact(*core_, PrepareRequest(*core_, request), 1);
}

SessionCore& CoreOf(TRSSession& session) {
  return *session.core_;
}

}  // namespace loopmon
