#pragma once
// The search dialog: built in code, shown modally by RunDialog, which returns
// the address of the device the user chose, or 0. A thin Qt view over
// SearchDialogModel, which runs the scan and remembers the port in "pcom.ini".

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>

#include "loops/search_dialog_model.h"

class QComboBox;
class QDialog;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTimer;

namespace loopmon {

class SearchDialog : public QObject, private SearchDialogView {
  Q_OBJECT
 public:
  // `bus` null: no session to search with. `portSettingsPath`: the "pcom.ini"
  // to remember the port in. `portChoices`: the ports to offer, asked at each
  // showing (null: COM1..COM4).
  SearchDialog(BusRunner* bus, std::string portSettingsPath,
               SearchDialogModel::PortChoices portChoices = nullptr);
  ~SearchDialog() override;

  QString FormCaption() const;
  void setFormCaption(const QString& caption);
  void setFormFont(const QFont& font);

  // Shows the dialog modally; the address chosen during this showing, or 0.
  uint8_t RunDialog();

  // The dialog window, for tests that find its controls by object name.
  QDialog* window() const { return dialog_; }
  const SearchDialogModel& model() const { return *model_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void createDialog();
  void createControls();
  template <class Input>
  void forward(Input input);

  // SearchDialogView.
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
  void setSearchCaption(const std::string& caption) override;
  void setScanTimerEnabled(bool enabled) override;
  void showError(const std::string& text, const std::string& caption) override;
  void setPortItems(const std::vector<std::string>& texts) override;
  int portIndex() const override;
  void setPortIndex(int index) override;
  int selectedLine() const override;
  void selectLine(int line) override;
  std::string deviceLine(int line) const override;
  void closeDialog() override;

  QDialog* dialog_ = nullptr;
  QPushButton* searchButton_ = nullptr;
  QPushButton* chooseButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  QLabel* portLabel_ = nullptr;
  QComboBox* portSelector_ = nullptr;
  QListWidget* deviceList_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QTimer* scanTimer_ = nullptr;
  std::unique_ptr<SearchDialogModel> model_;
};

}  // namespace loopmon
