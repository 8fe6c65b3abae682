#pragma once
// The search dialog's controls as plain state, with a log of every change.

#include <string>
#include <vector>

#include "search/search_procedure.h"

namespace loopmon::testing {

class RecordingSearchView : public SearchView {
 public:
  void clearDevices() override {
    note("clear");
    lines.clear();
  }
  void appendDevice(const std::string& line) override {
    note("append");
    lines.push_back(line);
  }
  int deviceCount() const override { return static_cast<int>(lines.size()); }
  void focusDeviceList() override {
    note("focus list");
    focus = "list";
  }
  void focusSearchButton() override {
    note("focus search");
    focus = "search";
  }
  void setChooseEnabled(bool enabled) override {
    note("choose");
    chooseEnabled = enabled;
  }
  std::string title() const override { return titleText; }
  void setTitle(const std::string& title) override {
    note("title");
    titleText = title;
    titles.push_back(title);
  }
  void setProgress(int position) override {
    note("progress");
    progress = position;
  }
  std::string portText() const override { return port; }
  void setPortEnabled(bool enabled) override {
    note("port");
    portEnabled = enabled;
  }
  std::string searchCaption() const override { return caption; }
  void setSearchCaption(const std::string& text) override {
    note("caption");
    caption = text;
  }
  void setScanTimerEnabled(bool enabled) override {
    note("timer");
    timerEnabled = enabled;
  }
  void showError(const std::string& text, const std::string& boxCaption) override {
    note("error");
    errors.push_back(text + "|" + boxCaption);
  }

  std::vector<std::string> lines;
  bool chooseEnabled = false;
  std::string titleText = "Поиск приборов";
  std::vector<std::string> titles;
  int progress = 0;
  std::string port = "COM2";
  bool portEnabled = true;
  std::string caption = SearchButtonSearch;
  bool timerEnabled = false;
  std::string focus;
  std::vector<std::string> errors;
  std::vector<std::string> changes;

 private:
  void note(const char* what) { changes.push_back(what); }
};

// Runs a scan to its end the way the dialog's timer does.
inline void RunScan(SearchProcedure& search, RecordingSearchView& view) {
  search.StartStopScan();
  while (view.timerEnabled) search.ScanStep();
}

}  // namespace loopmon::testing
