#pragma once
// TfrmKalibr: the calibration dialog. Two reference resistances and the ADC
// readings shown for them give the coefficients a and b of a device type and
// version, stored through the coefficients store.

#include <QDialog>
#include <functional>
#include <optional>

#include "loops/coeffs.h"
#include "loops/reading_cycle.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace loopmon {

class TfrmKalibr : public QDialog {
  Q_OBJECT
 public:
  // `selectedDevice` gives the main window's DevType and DevVersion;
  // `decimalSeparator` unset: the user's locale separator.
  TfrmKalibr(std::function<SelectedDevice()> selectedDevice, CoefficientsStore& store,
             std::optional<char> decimalSeparator = std::nullopt);

  // Handlers.
  void FormCreate();
  void FormActivate();
  void edR1Change(QLineEdit* edit);
  void bEnterClick();
  void bCancelClick();

  // The type code of the selected cbType entry; 0 when none is selected.
  int selectedTypeCode() const;

  QComboBox* cbType = nullptr;
  QLineEdit* edVersion = nullptr;
  QLineEdit* edR1 = nullptr;
  QLineEdit* edACP1 = nullptr;
  QLineEdit* edR2 = nullptr;
  QLineEdit* edACP2 = nullptr;
  QPushButton* bEnter = nullptr;
  QPushButton* bCancel = nullptr;

 protected:
  bool event(QEvent* event) override;

 private:
  void createControls();
  void showEvent(QShowEvent* event) override;
  char separator() const;

  std::function<SelectedDevice()> selectedDevice_;
  CoefficientsStore& store_;
  std::optional<char> decimalSeparator_;
  // The window that held the focus before this one was one of its own message
  // boxes: returning from a box is no activation (the entries must stay).
  bool returningFromOwnBox_ = false;
};

}  // namespace loopmon
