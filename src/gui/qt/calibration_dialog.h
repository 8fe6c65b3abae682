#pragma once
// The calibration dialog: two reference resistances and the ADC readings shown
// for them give the coefficients of a device type and version. A thin Qt view
// over CalibrationModel; modeless, above the other windows.

#include <QDialog>
#include <functional>
#include <optional>

#include "desktop/calibration_model.h"

namespace loopmon::qt {

class FormWidgets;

class CalibrationDialog : public QDialog {
  Q_OBJECT
 public:
  // `selectedDevice` gives the main window's device; `decimalSeparator`
  // unset: the user's locale separator.
  CalibrationDialog(std::function<SelectedDevice()> selectedDevice, CoefficientsStore& store,
                    std::optional<char> decimalSeparator = std::nullopt);

 protected:
  bool event(QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  CalibrationFields fields() const;
  void showFields(const CalibrationFields& fields);
  void onFieldEdited(int id);
  void onEnterClicked();

  CalibrationModel model_;
  FormWidgets* form_ = nullptr;
  // The window that held the focus before this one was one of its own message
  // boxes: returning from a box is no activation (the entries must stay).
  bool returningFromOwnBox_ = false;
};

}  // namespace loopmon::qt
