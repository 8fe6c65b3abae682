#pragma once
// The password dialog: asks for the access code that guards the calibration.
// The right code shows the calibration dialog; any other closes silently.

#include <QDialog>

class QLineEdit;

namespace loopmon {

class CalibrationDialog;

class PasswordDialog : public QDialog {
  Q_OBJECT
 public:
  explicit PasswordDialog(CalibrationDialog& calibrationDialog);

 protected:
  // Runs whenever the dialog closes, however it was closed: the code goes.
  void done(int result) override;
  void showEvent(QShowEvent* event) override;

 private:
  void onOkClicked();

  CalibrationDialog& calibrationDialog_;
  QLineEdit* codeField_ = nullptr;
};

}  // namespace loopmon
