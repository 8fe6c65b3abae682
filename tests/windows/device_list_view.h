#pragma once
// The search dialog as far as a search without a window needs it: the lines
// of the device list and the errors it would show.

#include <string>
#include <vector>

#include "search/search_procedure.h"

namespace loopmon::test {

class DeviceList final : public SearchView {
 public:
  explicit DeviceList(std::string port) : port_(std::move(port)) {}

  void clearDevices() override { lines.clear(); }
  void appendDevice(const std::string& line) override { lines.push_back(line); }
  int deviceCount() const override { return static_cast<int>(lines.size()); }
  void focusDeviceList() override {}
  void focusSearchButton() override {}
  void setChooseEnabled(bool) override {}
  std::string title() const override { return {}; }
  void setTitle(const std::string&) override {}
  void setProgress(int) override {}
  std::string portText() const override { return port_; }
  void setPortEnabled(bool) override {}
  std::string searchCaption() const override { return SearchButtonSearch; }
  void setSearchCaption(const std::string&) override {}
  void setScanTimerEnabled(bool) override {}
  void showError(const std::string& text, const std::string&) override { errors.push_back(text); }

  std::vector<std::string> lines;
  std::vector<std::string> errors;

 private:
  std::string port_;
};

}  // namespace loopmon::test
