#pragma once
// The calibration dialog: two reference resistances and the ADC readings shown
// for them give the coefficients of a device type and version. A thin Win32
// view over CalibrationModel; modeless, above the other windows.

#include <functional>
#include <optional>

#include "desktop/calibration_form.h"
#include "desktop/calibration_model.h"
#include "gui/win32/window.h"

namespace loopmon::win32 {

class CalibrationDialog : public FormWindow {
 public:
  // `decimalSeparator` unset: the user's locale separator.
  CalibrationDialog(HWND owner, std::function<SelectedDevice()> selectedDevice,
                    CoefficientsStore& store, std::optional<char> decimalSeparator = std::nullopt);

  // Shown and activated, as the right code does.
  void show(HWND owner);

 protected:
  void onCommand(int id, int code) override;
  void onCancel() override;
  void onActivated(bool active) override;

 private:
  CalibrationFields fields() const;
  void showFields(const CalibrationFields& shown);
  void onFieldEdited(int id);
  void onEnterClicked();

  CalibrationModel model_;
  // While the dialog's own boxes are up: coming back from one is no
  // activation, the entries must stay.
  bool showingBoxes_ = false;
};

}  // namespace loopmon::win32
