#include "gui/win32/password_dialog.h"

#include "gui/win32/calibration_dialog.h"

namespace loopmon::win32 {

PasswordDialog::PasswordDialog(HWND owner, CalibrationDialog& calibration)
    : FormWindow(password_form::Form), calibration_(calibration) {
  create(owner);
}

void PasswordDialog::run(HWND owner) {
  owner_ = owner;
  runModal(owner);
  model_.closed();
}

void PasswordDialog::onCommand(int id, int code) {
  if (id == password_form::OkButton && code == BN_CLICKED) {
    model_.okClicked(windowText(control(password_form::CodeField)));
  }
}

void PasswordDialog::onCancel() {
  // Esc and the close box close like a wrong code: silently.
  endModal();
}

void PasswordDialog::clearCode() {
  setWindowText(control(password_form::CodeField), "");
}

void PasswordDialog::showCalibration() {
  calibration_.show(owner_);
}

}  // namespace loopmon::win32
