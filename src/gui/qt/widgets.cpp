#include "gui/qt/widgets.h"

#include <QFontDatabase>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace loopmon {

QFont designedFont(const QString& family, int pixelSize, bool bold) {
  static const QStringList standIns = {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                       QStringLiteral("DejaVu Sans")};
  QString chosen = family;
  if (!QFontDatabase::hasFamily(family)) {
    for (const QString& candidate : standIns) {
      if (QFontDatabase::hasFamily(candidate)) {
        chosen = candidate;
        break;
      }
    }
  }
  QFont font(chosen);
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

namespace {

constexpr int IconSize = 16;

QPixmap blankIcon() {
  QPixmap pixmap(IconSize, IconSize);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

}  // namespace

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

TogglePanel::TogglePanel(const QString& caption, QWidget* parent)
    : QFrame(parent), caption_(caption) {
  setFrameShape(QFrame::Panel);
  setLineWidth(1);
  setLowered(false);
}

void TogglePanel::setLowered(bool lowered) {
  setFrameShadow(lowered ? QFrame::Sunken : QFrame::Raised);
}

void TogglePanel::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter p(this);
  p.setPen(
      palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
  p.drawText(contentsRect(), Qt::AlignCenter, caption_);
}

void TogglePanel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    emit clicked();
  }
  QFrame::mouseReleaseEvent(event);
}

FilteredSpinEdit::FilteredSpinEdit(QWidget* parent) : QSpinBox(parent) {}

void FilteredSpinEdit::setMaxLength(int length) {
  lineEdit()->setMaxLength(length);
}

void FilteredSpinEdit::keyPressEvent(QKeyEvent* event) {
  const bool focusKey = event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab;
  if (onKeyPress && !focusKey && !event->text().isEmpty()) {
    QChar key = event->text().at(0);
    onKeyPress(key);
    if (key.isNull()) {
      event->accept();
      return;
    }
  }
  QSpinBox::keyPressEvent(event);
}

}  // namespace loopmon
