#pragma once
// The bus search without widgets: the scan of the addresses, one per timer
// tick, and the check of the devices found earlier. The search dialog (and
// loopctl's console) supply the controls through SearchView.

#include <cstdint>
#include <string>

namespace loopmon {

class TRSSession;

// Texts of the search button.
inline constexpr const char* SearchButtonSearch = "Поиск";
inline constexpr const char* SearchButtonStop = "Стоп";
// The dialog's title while an address is probed, followed by the address.
inline constexpr const char* ScanTitle = "Поиск приборов по адресу ";

// The dialog's controls as the search sees them.
class SearchView {
 public:
  virtual ~SearchView() = default;

  virtual void clearDevices() = 0;
  virtual void appendDevice(const std::string& line) = 0;
  virtual int deviceCount() const = 0;
  virtual void focusDeviceList() = 0;
  virtual void focusSearchButton() = 0;
  virtual void setChooseEnabled(bool enabled) = 0;
  virtual std::string title() const = 0;
  virtual void setTitle(const std::string& title) = 0;
  // 0..127.
  virtual void setProgress(int position) = 0;
  // The port selector's text, "" when no port is selected.
  virtual std::string portText() const = 0;
  virtual void setPortEnabled(bool enabled) = 0;
  virtual std::string searchCaption() const = 0;
  virtual void setSearchCaption(const std::string& caption) = 0;
  // The 10 ms timer whose ticks call ScanStep.
  virtual void setScanTimerEnabled(bool enabled) = 0;
  // Modal box with an error icon and one OK button.
  virtual void showError(const std::string& text, const std::string& caption) = 0;
};

class SearchProcedure {
 public:
  explicit SearchProcedure(SearchView& view, TRSSession* session = nullptr)
      : RSSession(session), view_(view) {}

  // The search button: starts a scan when it reads "Поиск", stops it otherwise.
  void StartStopScan();
  // One tick of the scan timer: probes ScanAddress, or ends the scan after 126.
  void ScanStep();
  // Before the dialog is shown: lists the devices found earlier that still
  // answer; changes nothing in the device table.
  void CheckKnownDevices();
  // Probes one address and, when a device identifies itself, records and lists it.
  void IdentifyAddress(uint8_t address);

  // May be unset; the search button then reports it.
  TRSSession* RSSession = nullptr;
  uint8_t ScanAddress = 0;
  std::string SavedCaption;
  uint8_t SelectedAddress = 0;

 private:
  bool Probe(uint8_t address, uint8_t command);

  SearchView& view_;
};

}  // namespace loopmon
