#include "gui/qt/plot.h"

#include <QPainter>

namespace loopmon::qt {

namespace {

QColor qcolour(Colour colour) {
  return {colour.red, colour.green, colour.blue};
}

// Qt draws at 96 logical pixels to the inch and scales the whole.
constexpr int LogicalDpi = 96;

}  // namespace

Plot::Plot(QWidget* parent) : QWidget(parent) {}

void Plot::setSource(Source source) {
  source_ = std::move(source);
  update();
}

void Plot::paintEvent(QPaintEvent*) {
  if (!source_) return;
  QPainter painter(this);
  const QFontMetrics metrics(font());
  const TextMeasure measure{[&metrics](const std::string& text) {
                              return metrics.horizontalAdvance(QString::fromStdString(text));
                            },
                            metrics.height()};
  for (const PlotShape& shape : source_({width(), height()}, LogicalDpi, measure)) {
    const QColor colour = qcolour(shape.colour);
    const QPointF from(shape.x1, shape.y1);
    const QPointF to(shape.x2, shape.y2);
    switch (shape.kind) {
      case PlotShape::Kind::Fill:
        painter.fillRect(QRectF(from, to), colour);
        break;
      case PlotShape::Kind::Frame:
        painter.setPen(QPen(colour, shape.width));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(from, to - QPointF(1, 1)));
        break;
      case PlotShape::Kind::Line:
        painter.setPen(QPen(colour, shape.width, Qt::SolidLine, Qt::FlatCap));
        painter.drawLine(from, to);
        break;
      case PlotShape::Kind::Text: {
        const QString text = QString::fromStdString(shape.text);
        const int textWidth = metrics.horizontalAdvance(text);
        double left = shape.x1;
        if (shape.align == TextAlign::Centre) left -= textWidth / 2.0;
        if (shape.align == TextAlign::Right) left -= textWidth;
        painter.setPen(colour);
        painter.drawText(QRectF(left, shape.y1, textWidth + 1, metrics.height()),
                         Qt::AlignLeft | Qt::AlignTop, text);
        break;
      }
    }
  }
}

}  // namespace loopmon::qt
