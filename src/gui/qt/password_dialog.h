#pragma once
// The password dialog: the access code that guards the calibration. A thin
// Qt view over PasswordDialogModel.

#include <QDialog>

#include "desktop/password_dialog_model.h"

namespace loopmon::qt {

class CalibrationDialog;
class FormWidgets;

class PasswordDialog : public QDialog, private PasswordDialogView {
  Q_OBJECT
 public:
  explicit PasswordDialog(CalibrationDialog& calibrationDialog);

  // Modal; the right code opens the calibration dialog once it has closed.
  void run();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // PasswordDialogView.
  void closeDialog() override { reject(); }
  void clearCode() override;
  void showCalibration() override;

  CalibrationDialog& calibrationDialog_;
  FormWidgets* form_ = nullptr;
  PasswordDialogModel model_{*this};
};

}  // namespace loopmon::qt
