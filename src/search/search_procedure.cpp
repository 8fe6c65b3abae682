#include "search/search_procedure.h"

#include <memory>

#include "platform/serial/port_names.h"
#include "search/quick_search.h"
#include "session/bus_runner.h"
#include "session/session.h"
#include "transport/answer_rule.h"
#include "transport/bus_state.h"

namespace loopmon {

namespace {

constexpr uint8_t FirstScanned = 127;
// Short tries stay within about a tenth of a second, so a stop or a closed
// dialog is not kept waiting for the bus.
constexpr int QuickTriesPerStep = 8;

const char* const CheckTitle = "Проверка наличия найденных ранее приборов";

bool probe(TRSSession& session, uint8_t address, uint8_t command) {
  return session.DirectRequest({address, 6, 0, command, 0, 0}, 1);
}

// What the device table holds of a device just found, with its line.
FoundDevice foundOnBus(TRSSession& session, uint8_t address, std::string line) {
  return {address, session.GetDeviceType(address), session.DeviceVersion(address), std::move(line)};
}

}  // namespace

std::vector<uint8_t> ScanOrder(const std::set<int>& addresses) {
  std::vector<uint8_t> order;
  if (addresses.count(FirstScanned) != 0) order.push_back(FirstScanned);
  for (const int address : addresses) {
    if (address != FirstScanned) order.push_back(static_cast<uint8_t>(address));
  }
  return order;
}

std::string IdentifyOnBus(TRSSession& session, uint8_t address) {
  session.SetDeviceType(address, NoDevice);
  if (!probe(session, address, BusCommand::Presence)) return {};
  return IdentifyPresent(session, address);
}

std::string IdentifyPresent(TRSSession& session, uint8_t address) {
  const Bytes identify{address, 6, 0, BusCommand::Identify, 0, 0};
  if (!session.DirectRequest(identify, 1)) return {};
  const Bytes& answer = session.LastAnswer();
  // Only an identity answer names a type and a version: a refusal (code 10)
  // or an answer owed to another request does not.
  if (!AnswerFitsRequest(identify, answer)) return {};
  session.SetDeviceType(address, answer[AnswerField::DeviceType]);
  session.SetDeviceVersion(address, answer[AnswerField::DeviceVersion]);
  return session.DescribeDevice(address);
}

SearchProcedure::SearchProcedure(SearchView& view, BusRunner* bus, OpenFailureMessage openFailure)
    : view_(view), bus_(bus), openFailure_(std::move(openFailure)) {}

SearchProcedure::~SearchProcedure() = default;

void SearchProcedure::identify(uint8_t address, void (SearchProcedure::*then)(),
                               Preparation before) {
  run(
      [address](TRSSession& session) {
        std::string line = IdentifyOnBus(session, address);
        return line.empty() ? FoundDevice{} : foundOnBus(session, address, std::move(line));
      },
      then, std::move(before));
}

void SearchProcedure::probeNext(void (SearchProcedure::*then)(), Preparation before) {
  // Several short tries to an exchange: a tick of the scan timer for each
  // would cost 10 ms (16 on Windows) an address, more than the try itself.
  run(
      [quick = quickScan_](TRSSession& session) {
        for (int tries = 0; tries < QuickTriesPerStep && !quick->Done(); ++tries) {
          const uint8_t address = quick->NextAddress();
          std::string line = quick->Step(session);
          if (!line.empty()) return foundOnBus(session, address, std::move(line));
        }
        return FoundDevice{};
      },
      then, std::move(before));
}

void SearchProcedure::run(Probe probe, void (SearchProcedure::*then)(), Preparation before) {
  auto found = std::make_shared<FoundDevice>();
  auto problem = std::make_shared<std::string>();
  const unsigned list = list_;
  const unsigned scan = scan_;
  bus_->run(
      [found, problem, before = std::move(before), probe = std::move(probe)](TRSSession& session) {
        if (before) *problem = before(session);
        *found = probe(session);
      },
      [this, found, problem, list, scan, then](std::exception_ptr error) {
        // A step of a scan that has been replaced meanwhile moves nothing on.
        const bool current = scan == scan_;
        if (error) {
          // The scan cannot go on: back to idle before the error is shown.
          if (scanning_ && current) {
            scanning_ = false;
            view_.setScanTimerEnabled(false);
            showIdle();
          }
          std::rethrow_exception(error);
        }
        if (!problem->empty() && current) view_.showError(*problem, openFailure_.caption);
        if (!found->line.empty() && list == list_) listDevice(*found);
        if (then && current) (this->*then)();
      });
}

void SearchProcedure::IdentifyAddress(uint8_t address) {
  identify(address, nullptr, {});
}

void SearchProcedure::StartStopScan() {
  if (bus_ == nullptr) {
    view_.showError("Неопределен RSSession. Обратитесь к разработчику.", "Ошибка разработчика");
    return;
  }
  const std::string port = view_.portText();
  if (port.empty()) {
    view_.showError("Неопределен последовательный порт!", "");
    return;
  }
  endCheck();
  // The selector's first word names the port: COM1..COM4 go through ComPort
  // as the hosts set it, any other name (a higher COM number, a device path)
  // is opened by that name. A device the host named itself stays in force
  // for COM1..COM4; a higher COM number chosen here before gives way.
  // Returns why the port cannot be opened, "" when it opened or is not
  // needed: the simulator or the bus driver carries the exchanges then.
  const std::string name = port.substr(0, port.find(' '));
  auto setPort = [name, text = openFailure_.text](TRSSession& session) -> std::string {
    const std::optional<int> number = comPortNumber(name);
    if (number && *number <= 4) {
      if (comPortNumber(session.PortPath())) session.SetPortPath("");
      session.SetComPort(*number);
    } else {
      session.SetPortPath(name);
    }
    if (session.OpenPort() || session.SimulatorMode()) return {};
    // A line given up as it opened (a server that floods) ends the scan with
    // its own account instead of being tried at every address.
    session.ReportDroppedLine();
    return text ? text(session.OpenFailureOf()) : session.DescribeOpenFailure();
  };
  // Decided by the scan's own state, and shown at once: a step still on the
  // bus ends there and lists what it found, but no further step follows.
  if (scanning_) {
    scanning_ = false;
    view_.setScanTimerEnabled(false);
    showIdle();
    bus_->run([setPort](TRSSession& session) { setPort(session); },
              [](std::exception_ptr error) {
                if (error) std::rethrow_exception(error);
              });
    return;
  }
  scanning_ = true;
  ++scan_;
  view_.setPortEnabled(false);
  clearList();
  view_.setSearchCaption(SearchButtonStop);
  SavedCaption = view_.title();
  ScanAddress = FirstScanned;
  view_.setTitle(ScanTitle + std::to_string(FirstScanned));
  view_.setChooseEnabled(false);
  quickScan_.reset();
  if (quick_) {
    std::set<int> everyAddress;
    for (int address = 1; address <= 127; ++address) everyAddress.insert(address);
    quickScan_ = std::make_shared<QuickScan>(ScanOrder(everyAddress));
  }
  // The port, the cleared table and the first probe in one exchange: a port
  // that cannot be set up ends the scan with one message; one that cannot be
  // opened is told once, and the scan runs all the same, each probe trying
  // to open it again.
  Preparation prepare = [setPort](TRSSession& session) {
    std::string problem = setPort(session);
    for (int address = 1; address <= 127; ++address) {
      session.SetDeviceType(static_cast<uint8_t>(address), NoDevice);
      session.SetDeviceVersion(static_cast<uint8_t>(address), 0);
    }
    return problem;
  };
  if (quickScan_) {
    probeNext(&SearchProcedure::afterFirstProbe, std::move(prepare));
  } else {
    identify(FirstScanned, &SearchProcedure::afterFirstProbe, std::move(prepare));
  }
}

void SearchProcedure::afterFirstProbe() {
  ScanAddress = 1;
  if (!scanning_) return;
  view_.setScanTimerEnabled(true);
  view_.focusDeviceList();
}

void SearchProcedure::showIdle() {
  view_.setSearchCaption(SearchButtonSearch);
  view_.setPortEnabled(true);
  view_.setTitle(SavedCaption);
  view_.setProgress(0);
}

void SearchProcedure::ScanStep() {
  view_.setScanTimerEnabled(false);
  if (!scanning_) return;
  if (quickScan_ ? quickScan_->Done() : ScanAddress >= FirstScanned) {
    scanning_ = false;
    showIdle();
    if (devices_.empty()) view_.showListNote(NothingFound);
    return;
  }
  if (quickScan_) ScanAddress = quickScan_->NextAddress();
  view_.setProgress(ScanAddress);
  view_.setTitle(ScanTitle + std::to_string(ScanAddress));
  if (quickScan_) {
    probeNext(&SearchProcedure::afterScanStep, {});
  } else {
    identify(ScanAddress, &SearchProcedure::afterScanStep, {});
  }
}

void SearchProcedure::afterScanStep() {
  ++ScanAddress;
  if (scanning_) view_.setScanTimerEnabled(true);
}

void SearchProcedure::EndScan() {
  endCheck();
  if (!scanning_) return;
  scanning_ = false;
  view_.setScanTimerEnabled(false);
  view_.setTitle(SavedCaption);
}

void SearchProcedure::clearList() {
  devices_.clear();
  view_.clearDevices();
  view_.showListNote("");
  ++list_;
}

void SearchProcedure::listDevice(const FoundDevice& device) {
  devices_.push_back(device);
  view_.appendDevice(device);
  view_.setChooseEnabled(true);
}

void SearchProcedure::CheckKnownDevices() {
  clearList();
  view_.setChooseEnabled(false);
  checkKeptTitle_ = view_.title();
  SelectedAddress = 0;
  view_.setTitle(CheckTitle);
  checking_ = true;
  if (bus_ == nullptr) {
    endCheck();
    return;
  }
  checkFrom(0, list_);
}

void SearchProcedure::checkFrom(int step, unsigned list) {
  if (!checking_ || list != list_) return;
  if (step == 127) {
    endCheck();
    return;
  }
  const uint8_t address = step == 0 ? FirstScanned : static_cast<uint8_t>(step);
  if (address != FirstScanned) view_.setProgress(address);
  auto found = std::make_shared<FoundDevice>();
  bus_->run(
      [address, found](TRSSession& session) {
        if (session.GetDeviceType(address) != NoDevice &&
            probe(session, address, BusCommand::Presence)) {
          *found = foundOnBus(session, address, session.DescribeDevice(address));
        }
      },
      [this, step, list, found](std::exception_ptr error) {
        // A check that has ended or been replaced (the dialog closed, or
        // shown again) tells nothing: the current one meets the same failure
        // and tells it once.
        if (!checking_ || list != list_) return;
        if (error) {
          endCheck();
          std::rethrow_exception(error);
        }
        if (!found->line.empty()) listDevice(*found);
        checkFrom(step + 1, list);
      });
}

void SearchProcedure::endCheck() {
  if (!checking_) return;
  checking_ = false;
  view_.setTitle(checkKeptTitle_);
  view_.setProgress(0);
  view_.setScanTimerEnabled(false);
  if (!devices_.empty()) {
    view_.focusDeviceList();
  } else {
    view_.focusSearchButton();
  }
}

}  // namespace loopmon
