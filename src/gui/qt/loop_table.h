#pragma once
// The loop table's grid, drawn as the main window's form says: fixed-style
// columns on the left, a silver background, 1-pixel grid lines, text at the
// cell's top-left corner, a marked row's number on red, a moved loop's number
// with a blue corner. Cell hit-testing for the marking handlers, a
// context-menu hook, and scrolling by whole rows.

#include <QAbstractScrollArea>
#include <QString>
#include <array>
#include <functional>
#include <vector>

#include "loops/loop_layout.h"

namespace loopmon::qt {

class LoopTable : public QAbstractScrollArea {
  Q_OBJECT
 public:
  static constexpr int GridLineWidth = 1;

  explicit LoopTable(QWidget* parent);

  int rowCount() const { return static_cast<int>(rows_.size()); }
  // Never below one row; rows dropped lose their texts and marks, new rows
  // start empty, unmarked and not moved.
  void setRowCount(int count);
  void setColumnWidths(const std::array<int, LoopTableColumns>& widths);
  int colWidth(int col) const { return colWidths_[col]; }

  QString cell(int col, int row) const;
  void setCell(int col, int row, const QString& text);
  int mark(int row) const;
  void setMark(int row, int value);
  bool moved(int row) const;
  void setMoved(int row, bool moved);
  // A row framed and scrolled into sight (0: none).
  int chosenRow() const { return chosenRow_; }
  void setChosenRow(int row);

  // Column and row under a point of the grid's client area, -1 for none.
  void mouseToCell(QPoint point, int& col, int& row) const;
  QRect cellRect(int col, int row) const;
  void setVerticalScrollBarShown(bool shown);
  int topRow() const;

  std::function<void(Qt::MouseButton button, QPoint point)> onMouseDown;
  std::function<void(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, QPoint point)>
      onMouseMove;
  std::function<void(Qt::MouseButton button, QPoint point)> onMouseUp;
  // The context menu is asked for at `point`; `globalPoint` places it.
  std::function<void(QPoint point, QPoint globalPoint)> onContextMenu;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  struct Row {
    std::array<QString, LoopTableColumns> cells;
    int mark = 0;
    bool moved = false;
  };
  int colLeft(int col) const;
  int visibleRowCount() const;
  void updateScrollRange();
  void drawCell(QPainter& painter, int col, int row, const QRect& rect);

  std::vector<Row> rows_;
  std::array<int, LoopTableColumns> colWidths_{};
  int chosenRow_ = 0;
};

}  // namespace loopmon::qt
