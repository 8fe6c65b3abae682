#pragma once
// The bus traffic in a window of its own: a thin Win32 view over
// TrafficWindowModel, taking the trace on a timer while open.

#include <optional>
#include <string>
#include <vector>

#include "desktop/traffic_form.h"
#include "desktop/traffic_window_model.h"
#include "gui/win32/window.h"

namespace loopmon::win32 {

class TrafficWindow : public FormWindow, private TrafficWindowView {
 public:
  // `trace` is the session's and outlives the window.
  TrafficWindow(HWND owner, BusTrace& trace);

  // Shown in front with the trace on; closing hides it and ends the trace
  // until the next open.
  void open();
  const TrafficWindowModel& model() const { return model_; }

 protected:
  void onCommand(int id, int code) override;
  void onTimer(UINT_PTR id) override;
  void onClose() override;
  void onLaidOut() override;

 private:
  // TrafficWindowView.
  void showLinesMoved(int removedFirst, const std::vector<std::string>& added) override;
  void showLines(const std::vector<std::string>& lines) override;
  void showCounters(const std::vector<std::string>& lines) override;
  void showPauseButton(const std::string& text) override;
  std::optional<std::string> askSavePath(const std::string& suggested) override;
  std::optional<std::string> askCapturePath(const std::string& suggested) override;
  void showMessage(const std::string& text) override;

  void scrollToEnd();

  HWND owner_;
  TrafficWindowModel model_;
  // Whether the list showed its newest line when lines last came: a list
  // made smaller (a window restored after maximising) keeps its top line and
  // would lose the end, so it is scrolled there again.
  bool following_ = true;
  // The widest line in the list, in pixels.
  int widestLine_ = 0;
};

}  // namespace loopmon::win32
