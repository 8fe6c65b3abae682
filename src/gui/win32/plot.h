#pragma once
// A drawing of shapes that a window model gives for the control's size: a
// loop's history. Painted whole through a bitmap, so it never flickers.

#include <functional>
#include <vector>

#include "desktop/history_window_model.h"
#include "gui/win32/window.h"

namespace loopmon::win32 {

class Plot : public Window {
 public:
  using Source =
      std::function<std::vector<PlotShape>(Size area, int dpi, const TextMeasure& measure)>;

  Plot(HWND parent, int id);
  void setDpi(UINT dpi) override;
  // What to draw; nothing until it is set.
  void setSource(Source source);
  // Draws on `dc` as the control paints.
  void paint(HDC dc);

 protected:
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  Source source_;
  HFONT font_ = nullptr;
  UINT dpi_ = 96;
};

}  // namespace loopmon::win32
