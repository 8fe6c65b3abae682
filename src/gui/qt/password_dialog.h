#pragma once
// TfrmPassword: asks for the access code that guards the calibration. The
// right code shows the calibration dialog; any other closes silently.

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace loopmon {

class TfrmKalibr;

inline constexpr char AccessCode[] = "48205917";

class TfrmPassword : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmPassword(TfrmKalibr& frmKalibr);

  void btnOkClick();
  // Runs whenever the dialog closes, however it was closed.
  void FormClose();

  QLabel* Label1 = nullptr;
  QLineEdit* MaskEdit1 = nullptr;
  QPushButton* btnOk = nullptr;

 protected:
  void done(int result) override;
  void showEvent(QShowEvent* event) override;

 private:
  TfrmKalibr& frmKalibr_;
};

}  // namespace loopmon
