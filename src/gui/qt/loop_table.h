#pragma once
// The loop table's grid, drawn from the main window model's LoopGridModel as
// the main window's form says: fixed-style columns on the left, a silver
// background, 1-pixel grid lines, text at the cell's top-left corner, a
// marked row's number on red, a moved loop's number with a blue corner, the
// chosen row framed. It keeps nothing of its own: it tells the grid its
// height and scroll position and asks it where the cells are.

#include <QAbstractScrollArea>
#include <functional>

#include "desktop/loop_grid_model.h"

namespace loopmon::qt {

class LoopTable : public QAbstractScrollArea {
  Q_OBJECT
 public:
  explicit LoopTable(QWidget* parent);

  // The grid to draw; nothing is drawn before.
  void setGrid(LoopGridModel* grid);
  // The grid's rows, columns, scroll bar or chosen row changed.
  void gridChanged();
  void cellChanged(int column, int row);

  QRect cellRect(int column, int row) const;
  // Column and row under a point of the viewport, -1 for none.
  GridCell cellAt(QPoint point) const;

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
  void fitViewport();
  void updateScrollBar();
  void drawCell(QPainter& painter, int column, int row, const QRect& rect);

  LoopGridModel* grid_ = nullptr;
};

}  // namespace loopmon::qt
