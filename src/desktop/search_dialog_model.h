#pragma once
// The search dialog's logic without a toolkit: the remembered port, choosing a
// device from the list, and what every way of closing does. The scan itself is
// the SearchProcedure; the dialog's view supplies its controls.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "search/port_choices.h"
#include "search/search_procedure.h"

namespace loopmon {

class BusRunner;

// The procedure's controls plus the dialog's own.
class SearchDialogView : public SearchView {
 public:
  // The port selector's items in order, replacing the ones it had; each text
  // begins with the port's name and a blank (see searchPortChoices).
  virtual void setPortItems(const std::vector<std::string>& texts) = 0;
  // -1: no port selected.
  virtual int portIndex() const = 0;
  virtual void setPortIndex(int index) = 0;
  // The list's selected line, the index of a device in the model's
  // devices(); -1: no line selected.
  virtual int selectedLine() const = 0;
  virtual void selectLine(int line) = 0;
  virtual void closeDialog() = 0;
  // The quick search's option.
  virtual void setQuickChecked(bool checked) = 0;
};

inline constexpr int PortCount = 4;

class SearchDialogModel {
 public:
  // The ports to offer, asked each time the dialog is shown.
  using PortChoices = std::function<std::vector<PortChoiceItem>()>;

  // `bus` null: no session to search with. `portSettingsPath`: the
  // "pcom.ini" the port is remembered in. `portChoices` null: COM1..COM4.
  //
  // "pcom.ini" keeps the selector's index under [Port] Num, 0..3 being
  // COM1..COM4 as ever. A further port's index depends on what is plugged in,
  // so choosing one also writes its name under Name ("COM7"); the next showing
  // selects that port wherever it now stands, or none when it is gone rather
  // than whatever took its place.
  SearchDialogModel(SearchDialogView& view, BusRunner* bus, std::string portSettingsPath,
                    PortChoices portChoices = nullptr);

  // Input.
  // The dialog is about to be shown: the remembered port, then the check of
  // the devices found earlier. A "pcom.ini" that cannot be read selects no
  // port and throws FileError afterwards.
  void aboutToShow();
  // The dialog has closed, whichever way; its port is saved. A refused save
  // throws FileWriteError ("Unable to write to <path>").
  void closed();
  void searchClicked() { procedure_.StartStopScan(); }
  void scanTimerFired() { procedure_.ScanStep(); }
  // The choose button, a double click or Enter in the list.
  void chooseDevice();
  void cancelClicked();
  // The quick search's option; "pcom.ini" keeps it under [Search] Quick.
  void quickToggled(bool checked);

  uint8_t SelectedAddress() const { return procedure_.SelectedAddress; }
  // The list's devices, line by line.
  const std::vector<FoundDevice>& devices() const { return procedure_.Devices(); }
  const SearchProcedure& procedure() const { return procedure_; }

 private:
  SearchDialogView& view_;
  SearchProcedure procedure_;
  std::string portSettingsPath_;
  PortChoices portChoices_;
  // The quick search's option was chosen, or read from "pcom.ini".
  bool quickKept_ = false;
  // The names of the selector's items, as last shown.
  std::vector<std::string> portNames_;
};

}  // namespace loopmon
