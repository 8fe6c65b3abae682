#pragma once
// The calibration dialog: two reference resistances and the ADC readings shown
// for them give the coefficients of a device type and version. A thin Win32
// view over CalibrationModel; modeless, above the other windows.

#include <functional>
#include <memory>
#include <optional>

#include "loops/calibration_model.h"
#include "platform/text_win32.h"

namespace loopmon::win32 {

class DialogLayout;

// The controls; "Ввод" is IDOK, "Отмена" IDCANCEL.
inline constexpr int CalibrationTypeSelectorId = 201;
inline constexpr int CalibrationVersionFieldId = 202;
inline constexpr int CalibrationR1FieldId = 203;
inline constexpr int CalibrationAcp1FieldId = 204;
inline constexpr int CalibrationR2FieldId = 205;
inline constexpr int CalibrationAcp2FieldId = 206;

class CalibrationDialog {
 public:
  // `decimalSeparator` unset: the user's locale separator.
  CalibrationDialog(std::function<SelectedDevice()> selectedDevice, CoefficientsStore& store,
                    std::optional<char> decimalSeparator = std::nullopt);
  ~CalibrationDialog();
  CalibrationDialog(const CalibrationDialog&) = delete;
  CalibrationDialog& operator=(const CalibrationDialog&) = delete;

  // Modeless; created on first show, shown and activated again later.
  void show(HWND owner);
  // Null before the first show.
  HWND window() const { return window_; }

 private:
  static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);
  void createControls();
  void paintCaptions();
  CalibrationFields fields() const;
  void showFields(const CalibrationFields& shown);
  void onActivated();
  void onFieldEdited(HWND field);
  void onEnterClicked();

  CalibrationModel model_;
  HWND window_ = nullptr;
  std::unique_ptr<DialogLayout> layout_;
  HWND typeSelector_ = nullptr;
  HWND versionField_ = nullptr;
  HWND r1Field_ = nullptr;
  HWND acp1Field_ = nullptr;
  HWND r2Field_ = nullptr;
  HWND acp2Field_ = nullptr;
  // While the dialog's own boxes are up: coming back from one is no
  // activation, the entries must stay.
  bool showingBoxes_ = false;
};

}  // namespace loopmon::win32
