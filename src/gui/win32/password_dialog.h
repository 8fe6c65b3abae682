#pragma once
// The password dialog: the access code that guards the calibration. The right
// code shows the calibration dialog; any other closes the dialog silently.

#include <memory>

#include "platform/text_win32.h"

namespace loopmon::win32 {

class CalibrationDialog;
class DialogLayout;

// The code field; "Ok" is IDOK.
inline constexpr int PasswordCodeFieldId = 101;

class PasswordDialog {
 public:
  explicit PasswordDialog(CalibrationDialog& calibration);
  ~PasswordDialog();
  PasswordDialog(const PasswordDialog&) = delete;
  PasswordDialog& operator=(const PasswordDialog&) = delete;

  // Modal over `owner`; a right code opens the calibration dialog (modeless) after it closes.
  void run(HWND owner);
  // The dialog while shown, else null.
  HWND window() const { return window_; }

 private:
  static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);
  void createControls();
  void onOkClicked();

  CalibrationDialog& calibration_;
  HWND window_ = nullptr;
  HWND codeField_ = nullptr;
  std::unique_ptr<DialogLayout> layout_;
  bool accepted_ = false;
};

}  // namespace loopmon::win32
