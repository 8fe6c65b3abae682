#pragma once
// A site's history in a window of its own: a thin Win32 view over
// SiteHistoryModel, opened from the survey window on a folder of records.

#include <optional>
#include <string>
#include <vector>

#include "desktop/site_history_form.h"
#include "desktop/site_history_model.h"
#include "gui/win32/window.h"

namespace loopmon::win32 {

class SiteHistoryWindow : public FormWindow, private SiteHistoryView {
 public:
  explicit SiteHistoryWindow(HWND owner);

  // Asks for a folder and shows the window on its records beside the owner;
  // stays shut when the user cancels or the folder holds none. Closing hides
  // it until the next open.
  void open();
  const SiteHistoryModel& model() const { return model_; }

 protected:
  void onCommand(int id, int code) override;
  void onClose() override;

 private:
  // SiteHistoryView.
  std::optional<std::string> askFolder() override;
  void showLoops(const std::string& status, const std::vector<std::string>& loops,
                 const std::vector<std::string>& skipped) override;
  void showPlot() override;
  void showMessage(const std::string& text) override;

  HWND owner_;
  SiteHistoryModel model_;
};

}  // namespace loopmon::win32
