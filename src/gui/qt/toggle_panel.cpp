#include "gui/qt/toggle_panel.h"

#include <QMouseEvent>
#include <QPainter>

namespace loopmon::qt {

TogglePanel::TogglePanel(QWidget* parent) : QFrame(parent) {
  setFrameShape(QFrame::Panel);
  setLineWidth(1);
  setLowered(false);
}

void TogglePanel::setLowered(bool lowered) {
  setFrameShadow(lowered ? QFrame::Sunken : QFrame::Raised);
}

void TogglePanel::setText(const QString& text) {
  text_ = text;
  update();
}

void TogglePanel::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter p(this);
  p.setPen(
      palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
  p.drawText(contentsRect(), Qt::AlignCenter, text_);
}

void TogglePanel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    emit clicked();
  }
  QFrame::mouseReleaseEvent(event);
}

}  // namespace loopmon::qt
