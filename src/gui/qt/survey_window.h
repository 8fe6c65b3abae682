#pragma once
// The survey of the bus and its record in a window of its own: a thin Qt view
// over SurveyWindowModel. Closing it hides it and stops a running survey; the
// main window keeps it until the bus thread has ended.

#include <QString>
#include <QWidget>
#include <functional>

#include "desktop/survey_window_model.h"

namespace loopmon::qt {

class FormWidgets;
class SiteHistoryWindow;

class SurveyWindow : public QWidget, private SurveyWindowView {
  Q_OBJECT
 public:
  // `choose` shows a device and loop (0: none) in the main window.
  SurveyWindow(BusRunner& bus, const CoefficientsStore& store,
               std::function<void(uint8_t address, int loop)> choose, QWidget* parent);

  const SurveyWindowModel& model() const { return model_; }
  // Where "Сохранить..." writes and which record "Сравнить с..." opens; the
  // file dialogs ask when unset. An empty path does nothing.
  std::function<QString()> chooseSavePath;
  std::function<QString()> chooseRecordPath;
  // The site's history window once "История объекта..." has made it; null before.
  SiteHistoryWindow* siteHistory() const { return siteHistory_; }
  // Which folder "История объекта..." opens; the folder dialog asks when unset.
  std::function<QString()> chooseSiteFolder;

 protected:
  void closeEvent(QCloseEvent* event) override;

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
  void openSiteHistory();

  SurveyWindowModel model_;
  std::function<void(uint8_t address, int loop)> choose_;
  FormWidgets* form_ = nullptr;
  SiteHistoryWindow* siteHistory_ = nullptr;
};

}  // namespace loopmon::qt
