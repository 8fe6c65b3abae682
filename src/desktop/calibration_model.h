#pragma once
// The calibration dialog's logic without a toolkit: the fields refilled on
// activation, the trailing-point rule and the checks and store write behind
// "Ввод".

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "loops/coeffs.h"
#include "loops/reading_cycle.h"

namespace loopmon {

struct DeviceTypeEntry {
  const char* text;
  int code;
};
// The type list of the calibration dialog, in its order.
inline constexpr DeviceTypeEntry CalibrationTypes[] = {
    {"Mivra-Q", 1}, {"Mivra-QX", 2}, {"Hovra-J", 4}, {"Mivra-QW", 11}};

// The dialog's entries; `typeEntry` is a position in CalibrationTypes, -1 for none.
struct CalibrationFields {
  int typeEntry = -1;
  std::string version;
  std::string r1;
  std::string acp1;
  std::string r2;
  std::string acp2;
};

class CalibrationModel {
 public:
  // `selectedDevice` gives the main window's device; `decimalSeparator`
  // unset: the user's locale separator.
  CalibrationModel(std::function<SelectedDevice()> selectedDevice, CoefficientsStore& store,
                   std::optional<char> decimalSeparator = std::nullopt);

  // The entries each time the dialog becomes the active window; `current`
  // is what it shows now (its type stays for a type not in the list).
  CalibrationFields activated(const CalibrationFields& current) const;

  // R1, R2 and the version: a point typed last becomes the decimal comma.
  // The text to put back into the field, or nothing to leave it.
  std::optional<std::string> fieldEdited(const std::string& text) const;

  // "Ввод": the messages of the failed checks, in order (each one a box); the
  // dialog closes after them without storing. With none, the store is written
  // and the dialog closes; a conversion, division or write error is thrown
  // before anything is stored, and the dialog stays open.
  std::vector<std::string> enter(const CalibrationFields& fields);

 private:
  char separator() const;

  std::function<SelectedDevice()> selectedDevice_;
  CoefficientsStore& store_;
  std::optional<char> decimalSeparator_;
};

}  // namespace loopmon
