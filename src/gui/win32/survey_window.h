#pragma once
// The survey of the bus and its record in a window of its own: a thin Win32
// view over SurveyWindowModel. Closing it hides it and stops a running
// survey; the main window keeps it until the bus thread has ended.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "desktop/survey_form.h"
#include "desktop/survey_window_model.h"
#include "gui/win32/window.h"

namespace loopmon::win32 {

class SiteHistoryWindow;

class SurveyWindow : public FormWindow, private SurveyWindowView {
 public:
  // `choose` shows a device and loop (0: none) in the main window.
  SurveyWindow(HWND owner, BusRunner& bus, const CoefficientsStore& store,
               std::function<void(uint8_t address, int loop)> choose);
  ~SurveyWindow() override;

  // Shown in front.
  void open();
  const SurveyWindowModel& model() const { return model_; }
  // The site's history window once "История объекта..." has made it; null before.
  SiteHistoryWindow* siteHistory() const { return siteHistory_.get(); }

 protected:
  void onCommand(int id, int code) override;
  void onClose() override;

 private:
  // SurveyWindowView.
  void showSurveyButton(const std::string& text, bool enabled) override;
  void showRecordControls(bool enabled) override;
  void showProgress(const std::string& text, int steps) override;
  void showDevices(const std::vector<std::string>& lines) override;
  void showChanges(const std::vector<std::string>& lines) override;
  std::optional<std::string> askSavePath(const std::string& suggested) override;
  std::optional<std::string> askRecordPath() override;
  void showMessage(const std::string& text) override;
  void chooseLoop(uint8_t address, int loop) override;

  void showLines(int list, const std::vector<std::string>& lines);

  HWND owner_;
  SurveyWindowModel model_;
  std::function<void(uint8_t address, int loop)> choose_;
  std::unique_ptr<SiteHistoryWindow> siteHistory_;
};

}  // namespace loopmon::win32
