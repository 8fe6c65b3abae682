#pragma once
// The bus search without widgets: the scan of the addresses, one per timer
// tick, and the check of the devices found earlier. The search dialog (and
// loopctl's console) supply the controls through SearchView; every exchange
// goes through the window's BusRunner, and the lists and captions change when
// an exchange has ended.

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "session/bus_runner.h"
#include "transport/bus_state.h"

namespace loopmon {

class QuickScan;

// Texts of the search button.
inline constexpr const char* SearchButtonSearch = "Поиск";
inline constexpr const char* SearchButtonStop = "Стоп";
// The dialog's title while an address is probed, followed by the address.
inline constexpr const char* ScanTitle = "Поиск приборов по адресу ";
// The device list's note after a scan that found no device.
inline constexpr const char* NothingFound = "Приборы не найдены";

// The order the search probes in: 127 first when it is among `addresses`,
// then the others rising.
std::vector<uint8_t> ScanOrder(const std::set<int>& addresses);

// Identifies one address on the bus, within an exchange: the presence
// request, then the identification, whose type and version go to the session's
// device table (NoDevice when no device identifies itself). Returns the
// device's description line, or "".
std::string IdentifyOnBus(TRSSession& session, uint8_t address);
// The same after the presence request has been answered: the identification
// alone.
std::string IdentifyPresent(TRSSession& session, uint8_t address);

// The dialog's controls as the search sees them.
// A device the search found: what choosing it selects, and its line in the
// list ("Адрес:   5  Mivra-Q (версия  1.05)").
struct FoundDevice {
  uint8_t address = 0;
  uint16_t type = 0;
  uint8_t version = 0;
  std::string line;
};

class SearchView {
 public:
  virtual ~SearchView() = default;

  // The procedure's Devices() was emptied, or has grown by `device` at its end.
  virtual void clearDevices() = 0;
  virtual void appendDevice(const FoundDevice& device) = 0;
  virtual void focusDeviceList() = 0;
  virtual void focusSearchButton() = 0;
  virtual void setChooseEnabled(bool enabled) = 0;
  virtual std::string title() const = 0;
  virtual void setTitle(const std::string& title) = 0;
  // 0..127.
  virtual void setProgress(int position) = 0;
  // The port the user chose, "COM1".."COM4"; "" when none is selected.
  virtual std::string portText() const = 0;
  virtual void setPortEnabled(bool enabled) = 0;
  virtual void setSearchCaption(const std::string& caption) = 0;
  // The 10 ms timer whose ticks call ScanStep.
  virtual void setScanTimerEnabled(bool enabled) = 0;
  // Modal box with an error icon and one OK button.
  virtual void showError(const std::string& text, const std::string& caption) = 0;
  // A note in place of the empty device list; "" takes it away.
  virtual void showListNote(const std::string& /*note*/) {}
};

// How the search tells that its port cannot be opened: by default the line
// loopctl prints, with no caption.
struct OpenFailureMessage {
  std::function<std::string(const OpenFailure& failure)> text;
  std::string caption;
};

class SearchProcedure {
 public:
  // `bus` null: no session to search with; the search button reports it.
  explicit SearchProcedure(SearchView& view, BusRunner* bus = nullptr,
                           OpenFailureMessage openFailure = {});
  ~SearchProcedure();
  SearchProcedure(const SearchProcedure&) = delete;
  SearchProcedure& operator=(const SearchProcedure&) = delete;

  // The scans started from now on are quick searches (quick_search.h).
  void SetQuick(bool quick) { quick_ = quick; }
  bool Quick() const { return quick_; }

  // The search button: starts a scan when none runs, stops the running one
  // otherwise. A step on the bus still ends and lists what it found.
  void StartStopScan();
  // One tick of the scan timer: probes ScanAddress, or ends the scan after 126.
  void ScanStep();
  // Before the dialog is shown: lists the devices found earlier that still
  // answer; changes nothing in the device table.
  void CheckKnownDevices();
  // The dialog closes: a running scan or check ends, its title is put back.
  void EndScan();
  // Probes one address and, when a device identifies itself, records and lists it.
  void IdentifyAddress(uint8_t address);

  bool Scanning() const { return scanning_; }
  // The devices of the list, in the order they were found.
  const std::vector<FoundDevice>& Devices() const { return devices_; }

  uint8_t ScanAddress = 0;
  std::string SavedCaption;
  uint8_t SelectedAddress = 0;

 private:
  // Runs on the bus ahead of a probe, within the same exchange; what it
  // returns, unless empty, is shown as an error before the probe's result.
  using Preparation = std::function<std::string(TRSSession& session)>;
  void identify(uint8_t address, void (SearchProcedure::*then)(), Preparation before);
  void probeNext(void (SearchProcedure::*then)(), Preparation before);
  // Runs `probe` on the bus and lists the device it found, if any.
  using Probe = std::function<FoundDevice(TRSSession& session)>;
  void run(Probe probe, void (SearchProcedure::*then)(), Preparation before);
  void afterScanStep();
  void afterFirstProbe();
  void showIdle();
  void clearList();
  void listDevice(const FoundDevice& device);
  void checkFrom(int step, unsigned list);
  void endCheck();

  SearchView& view_;
  BusRunner* bus_;
  OpenFailureMessage openFailure_;
  bool scanning_ = false;
  bool quick_ = false;
  // The running quick search; shared with its step on the bus, which alone
  // moves it on.
  std::shared_ptr<QuickScan> quickScan_;
  bool checking_ = false;
  std::string checkKeptTitle_;
  std::vector<FoundDevice> devices_;
  // Counts the clearings of the device list: a result that comes back after
  // its list was cleared belongs to no list any more.
  unsigned list_ = 0;
  // Counts the scans started: a step belongs to the scan that sent it.
  unsigned scan_ = 0;
};

}  // namespace loopmon
