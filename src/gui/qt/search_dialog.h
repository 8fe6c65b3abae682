#pragma once
// The search dialog: built hidden from its form and shown modally by run,
// which returns the address of the device the user chose, or 0. A thin Qt
// view over SearchDialogModel, which runs the scan and remembers the port in
// "pcom.ini".

#include <QDialog>
#include <cstdint>
#include <memory>
#include <string>

#include "desktop/search_dialog_model.h"

class QTimer;

namespace loopmon::qt {

class DeviceRows;
class FormWidgets;

class SearchDialog : public QDialog, private SearchDialogView {
  Q_OBJECT
 public:
  // `bus` null: no session to search with. `portSettingsPath`: the "pcom.ini"
  // to remember the port in. `portChoices`: the ports to offer, asked at each
  // showing (null: COM1..COM4).
  SearchDialog(BusRunner* bus, std::string portSettingsPath,
               SearchDialogModel::PortChoices portChoices = nullptr);
  ~SearchDialog() override;

  // Shows the dialog modally; the address chosen during this showing, or 0.
  uint8_t run();
  const SearchDialogModel& model() const { return *model_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  template <class Input>
  void forward(Input input);
  void fitPortSelector();

  // SearchDialogView.
  void clearDevices() override;
  void appendDevice(const FoundDevice& device) override;
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
  void showListNote(const std::string& note) override;
  void setPortItems(const std::vector<std::string>& texts) override;
  int portIndex() const override;
  void setPortIndex(int index) override;
  int selectedLine() const override;
  void selectLine(int line) override;
  void closeDialog() override;
  void setQuickChecked(bool checked) override;

  FormWidgets* form_ = nullptr;
  QTimer* scanTimer_ = nullptr;
  // What the device list shows: the model's devices.
  DeviceRows* rows_ = nullptr;
  std::unique_ptr<SearchDialogModel> model_;
};

}  // namespace loopmon::qt
