#pragma once
// loopctl's stand-ins for the windows: the search dialog's controls and the
// main window's loop table, kept in memory for the commands to print.

#include <string>
#include <vector>

#include "loops/reading_cycle.h"
#include "search/search_procedure.h"

namespace loopmon::cli {

// The search "dialog" of loopctl: the device lines and the title are kept,
// for the command to print what it needs.
class ConsoleSearchView : public SearchView {
 public:
  void clearDevices() override { lines_.clear(); }
  void appendDevice(const FoundDevice& device) override { lines_.push_back(device.line); }
  void focusDeviceList() override {}
  void focusSearchButton() override {}
  void setChooseEnabled(bool) override {}
  std::string title() const override { return title_; }
  void setTitle(const std::string& title) override { title_ = title; }
  void setProgress(int) override {}
  std::string portText() const override { return {}; }
  void setPortEnabled(bool) override {}
  void setSearchCaption(const std::string& caption) override { caption_ = caption; }
  void setScanTimerEnabled(bool) override {}
  void showError(const std::string& text, const std::string& caption) override;

  const std::vector<std::string>& lines() const { return lines_; }

 private:
  std::vector<std::string> lines_;
  std::string title_;
  std::string caption_ = SearchButtonSearch;
};

// The loop table of loopctl read. Row 0 holds the headings; the layout by
// device type is the search button's.
class ConsoleLoopTable : public LoopTableView {
 public:
  // `rows` includes the heading row.
  ConsoleLoopTable(SelectedDevice device, int rows, bool adcView, bool periodic, int periodSeconds);

  SelectedDevice Device() const override { return device_; }
  int RowCount() const override { return static_cast<int>(cells_.size()); }
  std::string Cell(int column, int row) const override;
  void SetCell(int column, int row, const std::string& text) override;
  bool SkipMark(int row) const override;
  bool AdcView() const override { return adcView_; }
  bool PeriodicOn() const override { return periodic_; }
  int PeriodSeconds() const override { return periodSeconds_; }
  void ClearTable() override;
  void SetCaption(const std::string&) override {}
  void ShowMessage(const std::string& text) override;

  void SetSkipMark(int row, bool marked);
  // Columns shown in the current view: 3 in the ADC view, 2 in the state view.
  int Columns() const { return adcView_ ? 3 : 2; }

 private:
  void WriteHeadings();

  SelectedDevice device_;
  bool adcView_;
  bool periodic_;
  int periodSeconds_;
  std::vector<std::vector<std::string>> cells_;
  std::vector<bool> marks_;
};

}  // namespace loopmon::cli
