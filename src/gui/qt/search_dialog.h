#pragma once
// TSearchDv: the search component. It builds its dialog in code, shows it
// modally on RunDialog and returns the address of the device the user chose,
// or 0. The scan itself is the widget-free SearchProcedure; this class gives it
// the dialog's controls. The chosen port is remembered in "pcom.ini".

#include <QObject>
#include <QString>
#include <cstdint>
#include <string>

#include "search/search_procedure.h"

class QComboBox;
class QDialog;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTimer;

namespace loopmon {

class TRSSession;

// The address of a device list line: from the seventh character on, at most
// six characters, leading blanks skipped, then decimal digits.
uint8_t AddressFromLine(const QString& line);

class TSearchDv : public QObject, public SearchView {
  Q_OBJECT
 public:
  // `portSettingsPath`: the "pcom.ini" to remember the port in.
  explicit TSearchDv(std::string portSettingsPath);
  ~TSearchDv() override;

  QString FormCaption() const;
  void setFormCaption(const QString& caption);
  TRSSession* RSSession() const { return procedure_.RSSession; }
  void setRSSession(TRSSession* session) { procedure_.RSSession = session; }
  QFont FormFont() const;
  void setFormFont(const QFont& font);

  // Shows the dialog modally; the address chosen during this showing, or 0.
  uint8_t RunDialog();

  // Handlers.
  void FormShow();
  void ChooseDevice();
  void SaveSettings();
  void CancelClick();

  uint8_t SelectedAddress() const { return procedure_.SelectedAddress; }
  SearchProcedure& procedure() { return procedure_; }
  const std::string& portSettingsPath() const { return portSettingsPath_; }

  // The dialog and its controls, in declaration order.
  QDialog* Form = nullptr;
  QPushButton* SearchButton = nullptr;
  QPushButton* ChooseButton = nullptr;
  QPushButton* CancelButton = nullptr;
  QLabel* PortLabel = nullptr;
  QComboBox* PortSelector = nullptr;
  QListWidget* DeviceList = nullptr;
  QProgressBar* Progress = nullptr;
  QTimer* ScanTimer = nullptr;

  // SearchView.
  void clearDevices() override;
  void appendDevice(const std::string& line) override;
  int deviceCount() const override;
  void focusDeviceList() override;
  void focusSearchButton() override;
  void setChooseEnabled(bool enabled) override;
  std::string title() const override;
  void setTitle(const std::string& title) override;
  void setProgress(int position) override;
  std::string portText() const override;
  void setPortEnabled(bool enabled) override;
  std::string searchCaption() const override;
  void setSearchCaption(const std::string& caption) override;
  void setScanTimerEnabled(bool enabled) override;
  void showError(const std::string& text, const std::string& caption) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void createDialog();
  void createControls();
  void readPortIndex();

  SearchProcedure procedure_;
  std::string portSettingsPath_;
};

}  // namespace loopmon
