#pragma once
// The search dialog's controls as plain state.

#include <string>
#include <vector>

#include "search/search_procedure.h"

namespace loopmon::testing {

using Lines = std::vector<std::string>;

struct RecordingSearchView : SearchView {
  void clearDevices() override { lines.clear(); }
  void appendDevice(const FoundDevice& device) override { lines.push_back(device.line); }
  void focusDeviceList() override {}
  void focusSearchButton() override {}
  void setChooseEnabled(bool enabled) override { chooseEnabled = enabled; }
  std::string title() const override { return titleText; }
  void setTitle(const std::string& title) override { titleText = title; }
  void setProgress(int position) override { progress = position; }
  std::string portText() const override { return port; }
  void setPortEnabled(bool enabled) override { portEnabled = enabled; }
  void setSearchCaption(const std::string& text) override { caption = text; }
  void setScanTimerEnabled(bool enabled) override { timerEnabled = enabled; }
  void showError(const std::string& text, const std::string& box) override {
    errors.push_back(text + "|" + box);
  }
  void showListNote(const std::string& text) override { note = text; }
  // As the dialog comes back when a scan ends or stops.
  void expectIdle() const {
    EXPECT_FALSE(timerEnabled);
    EXPECT_EQ(caption, "Поиск");
    EXPECT_TRUE(portEnabled);
    EXPECT_EQ(titleText, "Поиск приборов");
    EXPECT_EQ(progress, 0);
  }

  Lines lines;
  bool chooseEnabled = false;
  std::string titleText = "Поиск приборов";
  int progress = 0;
  std::string port = "COM2";
  bool portEnabled = true;
  std::string caption = SearchButtonSearch;
  bool timerEnabled = false;
  Lines errors;
  std::string note;
};

}  // namespace loopmon::testing
