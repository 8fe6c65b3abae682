#pragma once
// The password dialog's logic without a toolkit: the access code that guards
// the calibration, taken exactly as typed. The dialog closes whatever was
// typed; once it has closed, the code is gone and only the right one opens
// the calibration dialog.

#include <string>

namespace loopmon {

inline constexpr char AccessCode[] = "48205917";

class PasswordDialogView {
 public:
  virtual ~PasswordDialogView() = default;
  virtual void closeDialog() = 0;
  virtual void clearCode() = 0;
  // The calibration dialog, modeless and in front.
  virtual void showCalibration() = 0;
};

class PasswordDialogModel {
 public:
  explicit PasswordDialogModel(PasswordDialogView& view) : view_(view) {}

  void okClicked(const std::string& code) {
    accepted_ = code == AccessCode;
    view_.closeDialog();
  }
  // The dialog has closed, whichever way.
  void closed() {
    view_.clearCode();
    if (accepted_) view_.showCalibration();
    accepted_ = false;
  }

 private:
  PasswordDialogView& view_;
  bool accepted_ = false;
};

}  // namespace loopmon
