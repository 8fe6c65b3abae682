#include "gui/qt/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace loopmon::qt {

namespace {

constexpr int IconSize = 16;

QPixmap blankIcon() {
  QPixmap pixmap(IconSize, IconSize);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

QIcon searchIcon() {
  QPixmap pixmap = blankIcon();
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(40, 40, 40), 2));
  p.setBrush(QColor(170, 210, 255));
  p.drawEllipse(QRectF(2, 2, 8.5, 8.5));
  p.setPen(QPen(QColor(120, 70, 20), 3, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(10, 10), QPointF(14, 14));
  return QIcon(pixmap);
}

QIcon readIcon() {
  QPixmap pixmap = blankIcon();
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0, 120, 0), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPolyline(QPolygonF({QPointF(2.5, 8.5), QPointF(6.5, 12.5), QPointF(13.5, 3.5)}));
  return QIcon(pixmap);
}

QIcon toolsIcon() {
  QPixmap pixmap = blankIcon();
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  // A spanner: a handle and an open jaw.
  p.setPen(QPen(QColor(90, 90, 100), 3, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(3, 13), QPointF(9, 7));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(90, 90, 100));
  p.drawEllipse(QPointF(10.5, 5.5), 4.5, 4.5);
  p.setBrush(Qt::transparent);
  p.setCompositionMode(QPainter::CompositionMode_Clear);
  p.drawRect(QRectF(10, 0, 3, 6));
  return QIcon(pixmap);
}

QIcon periodicIcon() {
  QPixmap pixmap = blankIcon();
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(30, 30, 120), 1.5));
  p.setBrush(QColor(255, 255, 220));
  p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
  p.setPen(QPen(QColor(30, 30, 120), 1.5, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(8, 8), QPointF(8, 4));
  p.drawLine(QPointF(8, 8), QPointF(11, 9.5));
  return QIcon(pixmap);
}

}  // namespace

QIcon iconFor(ButtonIcon icon) {
  switch (icon) {
    case ButtonIcon::Search:
      return searchIcon();
    case ButtonIcon::Read:
      return readIcon();
    case ButtonIcon::Tools:
      return toolsIcon();
    case ButtonIcon::Periodic:
      return periodicIcon();
    case ButtonIcon::None:
      break;
  }
  return {};
}

}  // namespace loopmon::qt
