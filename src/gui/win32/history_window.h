#pragma once
// One loop's history in a window of its own: a thin Win32 view over
// HistoryWindowModel, following the history on a 1 s timer while open.

#include <optional>
#include <string>

#include "desktop/history_form.h"
#include "desktop/history_window_model.h"
#include "gui/win32/window.h"

namespace loopmon::win32 {

class HistoryWindow : public FormWindow, private HistoryWindowView {
 public:
  // `history` outlives the window; `key` is the loop to show.
  HistoryWindow(HWND owner, const LoopHistory& history, LoopKey key);

  // Shown in front, following the history; closing hides it until the next open.
  void open();
  const HistoryWindowModel& model() const { return model_; }

 protected:
  void onCommand(int id, int code) override;
  void onTimer(UINT_PTR id) override;
  void onClose() override;

 private:
  // HistoryWindowView.
  void showFigures(const std::string& minimum, const std::string& maximum,
                   const std::string& moves) override;
  void showPlot() override;
  std::optional<std::string> askSavePath(const std::string& suggested) override;
  void showMessage(const std::string& text) override;

  HWND owner_;
  HistoryWindowModel model_;
};

}  // namespace loopmon::win32
