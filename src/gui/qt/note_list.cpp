#include "gui/qt/note_list.h"

#include <QPainter>

namespace loopmon::qt {

namespace {

void paintNote(QAbstractItemView& list, const QString& note) {
  if (note.isEmpty() || (list.model() && list.model()->rowCount() > 0)) return;
  QPainter painter(list.viewport());
  painter.setPen(list.palette().color(QPalette::Disabled, QPalette::Text));
  painter.drawText(list.viewport()->rect(), Qt::AlignCenter, note);
}

}  // namespace

void NoteList::setNote(const QString& note) {
  note_ = note;
  viewport()->update();
}

void NoteList::paintEvent(QPaintEvent* event) {
  QListWidget::paintEvent(event);
  paintNote(*this, note_);
}

void NoteListView::setNote(const QString& note) {
  note_ = note;
  viewport()->update();
}

void NoteListView::paintEvent(QPaintEvent* event) {
  QListView::paintEvent(event);
  paintNote(*this, note_);
}

}  // namespace loopmon::qt
