#pragma once
// The calibration dialog: two reference resistances and the ADC readings shown
// for them give the coefficients of a device type and version. A thin Qt view
// over CalibrationModel.

#include <QDialog>
#include <functional>
#include <optional>

#include "loops/calibration_model.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace loopmon {

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
  void createControls();
  CalibrationFields fields() const;
  void showFields(const CalibrationFields& fields);
  void onActivated();
  void onFieldEdited(QLineEdit* edit);
  void onEnterClicked();

  CalibrationModel model_;
  QComboBox* typeSelector_ = nullptr;
  QLineEdit* versionField_ = nullptr;
  QLineEdit* r1Field_ = nullptr;
  QLineEdit* acp1Field_ = nullptr;
  QLineEdit* r2Field_ = nullptr;
  QLineEdit* acp2Field_ = nullptr;
  QPushButton* enterButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  // The window that held the focus before this one was one of its own message
  // boxes: returning from a box is no activation (the entries must stay).
  bool returningFromOwnBox_ = false;
};

}  // namespace loopmon
