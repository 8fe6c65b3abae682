#pragma once
// A list box that shows a note in place of its lines while it has none.

#include <QListView>
#include <QListWidget>

namespace loopmon::qt {

class NoteList : public QListWidget {
  Q_OBJECT
 public:
  using QListWidget::QListWidget;
  // "" takes the note away.
  void setNote(const QString& note);
  QString note() const { return note_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString note_;
};

// The same list over a model of its window's: it draws the model's rows and
// keeps none of its own.
class NoteListView : public QListView {
  Q_OBJECT
 public:
  using QListView::QListView;
  // "" takes the note away.
  void setNote(const QString& note);
  QString note() const { return note_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString note_;
};

}  // namespace loopmon::qt
