#pragma once
// The password dialog: the access code that guards the calibration. A thin
// view over PasswordDialogModel; modal over every other window.

#include "desktop/password_dialog_model.h"
#include "desktop/password_form.h"
#include "gui/win32/window.h"

namespace loopmon::win32 {

class CalibrationDialog;

class PasswordDialog : public FormWindow, private PasswordDialogView {
 public:
  PasswordDialog(HWND owner, CalibrationDialog& calibration);

  // Modal over `owner`; the right code opens the calibration dialog once it has closed.
  void run(HWND owner);

 protected:
  void onCommand(int id, int code) override;
  void onCancel() override;

 private:
  // PasswordDialogView.
  void closeDialog() override { endModal(); }
  void clearCode() override;
  void showCalibration() override;

  CalibrationDialog& calibration_;
  HWND owner_ = nullptr;
  PasswordDialogModel model_{*this};
};

}  // namespace loopmon::win32
