#include "gui/qt/note_list.h"

#include <QPainter>

namespace loopmon::qt {

void NoteList::setNote(const QString& note) {
  note_ = note;
  viewport()->update();
}

void NoteList::paintEvent(QPaintEvent* event) {
  QListWidget::paintEvent(event);
  if (count() > 0 || note_.isEmpty()) return;
  QPainter painter(viewport());
  painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
  painter.drawText(viewport()->rect(), Qt::AlignCenter, note_);
}

}  // namespace loopmon::qt
