#pragma once
// A drawing of shapes that a window model gives for the widget's size: a
// loop's history.

#include <QWidget>
#include <functional>
#include <vector>

#include "desktop/history_window_model.h"

namespace loopmon::qt {

class Plot : public QWidget {
  Q_OBJECT
 public:
  using Source =
      std::function<std::vector<PlotShape>(Size area, int dpi, const TextMeasure& measure)>;

  explicit Plot(QWidget* parent);
  // What to draw; nothing until it is set.
  void setSource(Source source);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Source source_;
};

}  // namespace loopmon::qt
