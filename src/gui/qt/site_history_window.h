#pragma once
// A site's history in a window of its own: a thin Qt view over
// SiteHistoryModel, opened from the survey window on a folder of records.

#include <QString>
#include <QWidget>
#include <functional>

#include "desktop/site_history_model.h"

namespace loopmon::qt {

class FormWidgets;

class SiteHistoryWindow : public QWidget, private SiteHistoryView {
  Q_OBJECT
 public:
  explicit SiteHistoryWindow(QWidget* parent);

  // Asks for a folder and shows the window on its records beside `anchor`;
  // stays shut when the user cancels or the folder holds none.
  void openBeside(const QWidget& anchor);
  const SiteHistoryModel& model() const { return model_; }
  // Which folder to open; the folder dialog asks when unset. An empty path
  // opens nothing.
  std::function<QString()> chooseFolder;

 private:
  // SiteHistoryView.
  std::optional<std::string> askFolder() override;
  void showLoops(const std::string& status, const std::vector<std::string>& loops,
                 const std::vector<std::string>& skipped) override;
  void showPlot() override;
  void showMessage(const std::string& text) override;

  SiteHistoryModel model_;
  FormWidgets* form_ = nullptr;
};

}  // namespace loopmon::qt
