#pragma once
// The search dialog: a hidden window built in code and shown modally by run,
// which returns the address of the device the user chose, or 0. A thin view
// over SearchDialogModel, which runs the scan and remembers the port in
// "pcom.ini".

#include <cstdint>
#include <memory>
#include <string>

#include "loops/search_dialog_model.h"
#include "platform/text_win32.h"

namespace loopmon::win32 {

class SearchDialog : private SearchDialogView {
 public:
  // Control identifiers, for the dialog's own messages and for tests.
  enum Control : int {
    ChooseButtonId = 101,
    SearchButtonId,
    CancelButtonId,
    PortLabelId,
    PortSelectorId,
    DeviceListId,
    ProgressBarId,
  };

  // `bus` null: no session to search with. `portSettingsPath`: the "pcom.ini"
  // to remember the port in. `portChoices` null: COM1..COM4.
  SearchDialog(BusRunner* bus, std::string portSettingsPath,
               SearchDialogModel::PortChoices portChoices = nullptr);
  ~SearchDialog() override;
  SearchDialog(const SearchDialog&) = delete;
  SearchDialog& operator=(const SearchDialog&) = delete;

  // Shows the dialog modally over `owner`; the address chosen during this
  // showing, or 0.
  uint8_t run(HWND owner);

  HWND window() const { return dialog_; }
  HWND control(Control id) const { return GetDlgItem(dialog_, id); }
  // Shown and not closing.
  bool shown() const { return running_ && !closing_; }
  const SearchDialogModel& model() const { return *model_; }

 private:
  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK deviceListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR self);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  void createControls();
  void layOut();
  void updateFonts();
  void widenPortList();
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

  HWND dialog_ = nullptr;
  HFONT font_ = nullptr;
  UINT dpi_ = 96;
  bool running_ = false;
  bool closing_ = false;
  std::unique_ptr<SearchDialogModel> model_;
};

}  // namespace loopmon::win32
