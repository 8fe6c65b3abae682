#pragma once
// A drawing of shapes that a window model gives for the control's size: a
// loop's history.

#include <functional>
#include <vector>

#include "desktop/history_window_model.h"
#include "gui/win32/window.h"

namespace loopmon::win32 {

class Plot : public DrawnControl {
 public:
  using Source =
      std::function<std::vector<PlotShape>(Size area, int dpi, const TextMeasure& measure)>;

  Plot(HWND parent, int id);
  // What to draw; nothing until it is set.
  void setSource(Source source);

 protected:
  void paint(HDC dc, const RECT& client) override;

 private:
  Source source_;
};

}  // namespace loopmon::win32
