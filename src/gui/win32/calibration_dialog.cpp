#include "gui/win32/calibration_dialog.h"

#include "desktop/texts.h"
#include "gui/win32/message_box.h"

namespace loopmon::win32 {

using namespace calibration_form;

CalibrationDialog::CalibrationDialog(HWND owner, std::function<SelectedDevice()> selectedDevice,
                                     CoefficientsStore& store, std::optional<char> decimalSeparator)
    : FormWindow(calibration_form::Form),
      model_(std::move(selectedDevice), store, decimalSeparator) {
  create(owner);
  for (const DeviceTypeEntry& entry : CalibrationTypes) {
    SendMessageW(control(TypeSelector), CB_ADDSTRING, 0,
                 reinterpret_cast<LPARAM>(widen(entry.text).c_str()));
  }
}

void CalibrationDialog::show(HWND owner) {
  FormWindow::show(owner);
  SetActiveWindow(hwnd());
}

void CalibrationDialog::onActivated(bool active) {
  if (!active || showingBoxes_) return;
  runHandler(hwnd(), [this] { showFields(model_.activated(fields())); });
}

void CalibrationDialog::onCommand(int id, int code) {
  if (code == EN_CHANGE && (id == R1Field || id == R2Field || id == VersionField)) {
    onFieldEdited(id);
  } else if (code == BN_CLICKED && id == EnterButton) {
    onEnterClicked();
  } else if (code == BN_CLICKED && id == CancelButton) {
    onCancel();
  }
}

void CalibrationDialog::onCancel() {
  // Nothing stored; the next right code shows it again.
  ShowWindow(hwnd(), SW_HIDE);
}

CalibrationFields CalibrationDialog::fields() const {
  return {.typeEntry = static_cast<int>(SendMessageW(control(TypeSelector), CB_GETCURSEL, 0, 0)),
          .version = windowText(control(VersionField)),
          .r1 = windowText(control(R1Field)),
          .acp1 = windowText(control(Acp1Field)),
          .r2 = windowText(control(R2Field)),
          .acp2 = windowText(control(Acp2Field))};
}

void CalibrationDialog::showFields(const CalibrationFields& shown) {
  SendMessageW(control(TypeSelector), CB_SETCURSEL, static_cast<WPARAM>(shown.typeEntry), 0);
  setWindowText(control(VersionField), shown.version);
  setWindowText(control(R1Field), shown.r1);
  setWindowText(control(Acp1Field), shown.acp1);
  setWindowText(control(R2Field), shown.r2);
  setWindowText(control(Acp2Field), shown.acp2);
}

void CalibrationDialog::onFieldEdited(int id) {
  HWND field = control(id);
  if (const auto fixed = model_.fieldEdited(windowText(field))) {
    setWindowText(field, *fixed);
    // Typing goes on after the comma.
    const auto end = static_cast<LPARAM>(GetWindowTextLengthW(field));
    SendMessageW(field, EM_SETSEL, static_cast<WPARAM>(end), end);
  }
}

void CalibrationDialog::onEnterClicked() {
  showingBoxes_ = true;
  runHandler(hwnd(), [this] {
    for (const std::string& message : model_.enter(fields())) {
      showMessageBox(hwnd(), message, texts::CalibrationErrorCaption, MB_ICONERROR);
    }
    ShowWindow(hwnd(), SW_HIDE);
  });
  showingBoxes_ = false;
}

}  // namespace loopmon::win32
