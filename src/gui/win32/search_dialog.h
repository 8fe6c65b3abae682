#pragma once
// The search dialog: built hidden from its form and shown modally by run,
// which returns the address of the device the user chose, or 0. A thin view
// over SearchDialogModel, which runs the scan and remembers the port in
// "pcom.ini".

#include <cstdint>
#include <memory>
#include <string>

#include "desktop/search_dialog_model.h"
#include "desktop/search_form.h"
#include "gui/win32/window.h"

namespace loopmon::win32 {

class SearchDialog : public FormWindow, private SearchDialogView {
 public:
  // `bus` null: no session to search with. `portSettingsPath`: the "pcom.ini"
  // to remember the port in. `portChoices` null: COM1..COM4.
  SearchDialog(HWND owner, BusRunner* bus, std::string portSettingsPath,
               SearchDialogModel::PortChoices portChoices = nullptr);

  // Shows the dialog modally over `owner`; the address chosen during this
  // showing, or 0.
  uint8_t run(HWND owner);
  // Shown and not closing.
  bool shown() const { return runningModal(); }
  const SearchDialogModel& model() const { return *model_; }
  std::string listRow(int id, int row) const override;

 protected:
  void onCommand(int id, int code) override;
  void onTimer(UINT_PTR id) override;
  void onCancel() override;
  void onLaidOut() override;

 private:
  static LRESULT CALLBACK deviceListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR self);
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

  std::string note_;
  std::unique_ptr<SearchDialogModel> model_;
};

}  // namespace loopmon::win32
