#pragma once
// The windows' views as plain state, for driving the window models.

#include <array>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "desktop/main_window_model.h"
#include "desktop/search_dialog_model.h"

namespace loopmon::testing {

using Lines = std::vector<std::string>;

struct FakeMainWindow : MainWindowView {
  void showCaption(const std::string& text) override { caption = text; }
  void showDeviceLabel(const std::string& text) override { label = text; }
  void showReadControls(bool read, bool periodic, bool periodField) override {
    controls = {read, periodic, periodField};
  }
  void showPeriodicDown(bool down) override { periodicDown = down; }
  void showPeriod(int seconds) override { period = seconds; }
  void showView(bool adc) override { adcView = adc; }
  void showGrid() override { ++gridsShown; }
  void showGridCell(int column, int row) override { cellsShown.insert({column, row}); }
  void showHistory(LoopKey key) override { histories.push_back(key); }
  void startTimer(int delayMs) override { timerMs = delayMs; }
  void stopTimer() override { timerMs = -1; }
  void showMessage(const std::string& text) override { messages.push_back(text); }
  uint8_t runSearchDialog() override {
    if (duringSearch) duringSearch();
    return chosen;
  }
  void showPasswordDialog() override {}

  std::string caption;
  std::string label;
  std::array<bool, 3> controls{};
  bool periodicDown = false;
  int period = 0;
  bool adcView = false;
  int gridsShown = 0;
  std::set<std::pair<int, int>> cellsShown;
  std::vector<LoopKey> histories;
  int timerMs = -1;
  Lines messages;
  uint8_t chosen = 0;
  // Runs while the search dialog is up.
  std::function<void()> duringSearch;
};

struct FakeSearchDialog : SearchDialogView {
  void clearDevices() override { lines.clear(); }
  void appendDevice(const FoundDevice& device) override { lines.push_back(device.line); }
  void focusDeviceList() override {}
  void focusSearchButton() override {}
  void setChooseEnabled(bool enabled) override { chooseEnabled = enabled; }
  std::string title() const override { return titleText; }
  void setTitle(const std::string& text) override { titleText = text; }
  void setProgress(int position) override { progress = position; }
  void setPortItems(const std::vector<std::string>& texts) override { portItems = texts; }
  std::string portText() const override {
    return port < 0 || port >= static_cast<int>(portItems.size()) ? "" : portItems[port];
  }
  void setPortEnabled(bool enabled) override { portEnabled = enabled; }
  void setSearchCaption(const std::string& text) override { caption = text; }
  void setScanTimerEnabled(bool enabled) override { timer = enabled; }
  void showError(const std::string& text, const std::string&) override { errors.push_back(text); }
  int portIndex() const override { return port; }
  void setPortIndex(int index) override { port = index; }
  int selectedLine() const override { return selected; }
  void selectLine(int line) override { selected = line; }
  void closeDialog() override { ++closes; }
  void setQuickChecked(bool checked) override { quick = checked; }

  Lines lines;
  bool chooseEnabled = false;
  std::string titleText = "Поиск приборов";
  int progress = 0;
  int port = 1;
  std::vector<std::string> portItems{"COM1", "COM2", "COM3", "COM4"};
  bool portEnabled = true;
  std::string caption = SearchButtonSearch;
  bool timer = false;
  Lines errors;
  int selected = -1;
  int closes = 0;
  bool quick = false;
};

}  // namespace loopmon::testing
