#include "search/search_procedure.h"

#include "platform/port_names.h"
#include "session/rssess.h"

namespace loopmon {

namespace {

constexpr uint8_t FirstScanned = 127;

const char* const ScanTitle = "Поиск приборов по адресу ";
const char* const CheckTitle = "Проверка наличия найденных ранее приборов";

}  // namespace

bool SearchProcedure::Probe(uint8_t address, uint8_t command) {
  return RSSession->DirectRequest({address, 6, 0, command, 0, 0}, 1);
}

void SearchProcedure::IdentifyAddress(uint8_t address) {
  RSSession->SetDeviceType(address, NoDevice);
  if (!Probe(address, BusCommand::Presence)) return;
  if (!Probe(address, BusCommand::Identify)) return;
  const Bytes& answer = RSSession->LastAnswer;
  if (answer[FrameOffset::Address] != address || answer[FrameOffset::Code] == BusAnswer::Refused)
    return;
  RSSession->SetDeviceType(address, answer[3]);
  RSSession->DeviceVersions[address] = answer[4];
  view_.appendDevice(RSSession->DescribeDevice(address));
  view_.setChooseEnabled(true);
}

void SearchProcedure::StartStopScan() {
  if (RSSession == nullptr) {
    view_.showError("Неопределен RSSession. Обратитесь к разработчику.", "Ошибка разработчика");
    return;
  }
  const std::string port = view_.portText();
  if (port.empty()) {
    view_.showError("Неопределен последовательный порт!", "");
    return;
  }
  // The selector's first word names the port: COM1..COM4 go through ComPort
  // as the hosts set it, any other name (a higher COM number, a device path)
  // is opened by that name. A device the host named itself stays in force
  // for COM1..COM4; a higher COM number chosen here before gives way.
  const std::string name = port.substr(0, port.find(' '));
  const std::optional<int> number = comPortNumber(name);
  if (number && *number <= 4) {
    if (comPortNumber(RSSession->PortPath)) RSSession->SetPortPath("");
    RSSession->SetComPort(*number);
  } else {
    RSSession->SetPortPath(name);
  }
  OpenPort(*RSSession);

  if (view_.searchCaption() == SearchButtonSearch) {
    view_.setPortEnabled(false);
    view_.clearDevices();
    view_.setSearchCaption(SearchButtonStop);
    SavedCaption = view_.title();
    for (int address = 1; address <= 127; ++address) {
      RSSession->DeviceTypes[address] = NoDevice;
      RSSession->DeviceVersions[address] = 0;
    }
    ScanAddress = FirstScanned;
    view_.setTitle(ScanTitle + std::to_string(FirstScanned));
    view_.setChooseEnabled(false);
    IdentifyAddress(FirstScanned);
    ScanAddress = 1;
    view_.setScanTimerEnabled(true);
    view_.focusDeviceList();
  } else {
    view_.setScanTimerEnabled(false);
    view_.setSearchCaption(SearchButtonSearch);
    view_.setPortEnabled(true);
    view_.setTitle(SavedCaption);
    view_.setProgress(0);
  }
}

void SearchProcedure::ScanStep() {
  view_.setScanTimerEnabled(false);
  if (ScanAddress >= FirstScanned) {
    view_.setSearchCaption(SearchButtonSearch);
    view_.setPortEnabled(true);
    view_.setTitle(SavedCaption);
    view_.setProgress(0);
    return;
  }
  view_.setProgress(ScanAddress);
  view_.setTitle(ScanTitle + std::to_string(ScanAddress));
  IdentifyAddress(ScanAddress);
  ++ScanAddress;
  view_.setScanTimerEnabled(true);
}

void SearchProcedure::CheckKnownDevices() {
  view_.clearDevices();
  view_.setChooseEnabled(false);
  const std::string keptTitle = view_.title();
  SelectedAddress = 0;
  view_.setTitle(CheckTitle);
  if (RSSession != nullptr) {
    for (int step = 0; step < 127; ++step) {
      const uint8_t address = step == 0 ? FirstScanned : static_cast<uint8_t>(step);
      if (address != FirstScanned) view_.setProgress(address);
      if (RSSession->GetDeviceType(address) != NoDevice && Probe(address, BusCommand::Presence)) {
        view_.appendDevice(RSSession->DescribeDevice(address));
        view_.setChooseEnabled(true);
      }
    }
  }
  view_.setTitle(keptTitle);
  view_.setProgress(0);
  view_.setScanTimerEnabled(false);
  if (view_.deviceCount() > 0) {
    view_.focusDeviceList();
  } else {
    view_.focusSearchButton();
  }
}

}  // namespace loopmon
