#include "gui/qt/loop_table.h"

#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>

#include "desktop/main_form.h"

namespace loopmon::qt {

namespace {

QColor qcolour(Colour colour) {
  return {colour.red, colour.green, colour.blue};
}

QRect qrect(const Rect& rect) {
  return {rect.left, rect.top, rect.width, rect.height};
}

}  // namespace

LoopTable::LoopTable(QWidget* parent) : QAbstractScrollArea(parent) {
  setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  viewport()->setMouseTracking(false);
  connect(verticalScrollBar(), &QScrollBar::valueChanged, viewport(), [this](int top) {
    if (grid_ != nullptr && grid_->scrollTo(top)) viewport()->update();
  });
}

void LoopTable::setGrid(LoopGridModel* grid) {
  grid_ = grid;
  gridChanged();
}

void LoopTable::gridChanged() {
  if (grid_ == nullptr) return;
  setVerticalScrollBarPolicy(grid_->scrollBar() ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  fitViewport();
  viewport()->update();
}

void LoopTable::fitViewport() {
  // Qt scales for the screen itself: the grid lays out in its pixels at 96 DPI.
  grid_->setViewport(viewport()->height(), 96);
  updateScrollBar();
}

void LoopTable::cellChanged(int column, int row) {
  if (grid_ != nullptr) viewport()->update(cellRect(column, row));
}

QRect LoopTable::cellRect(int column, int row) const {
  return grid_ != nullptr ? qrect(grid_->cellRect(column, row)) : QRect();
}

GridCell LoopTable::cellAt(QPoint point) const {
  return grid_ != nullptr ? grid_->cellAt(point.x(), point.y()) : GridCell{};
}

void LoopTable::updateScrollBar() {
  const QSignalBlocker quiet(verticalScrollBar());
  verticalScrollBar()->setRange(0, grid_->lastTopRow());
  verticalScrollBar()->setPageStep(grid_->visibleRowCount());
  verticalScrollBar()->setSingleStep(1);
  verticalScrollBar()->setValue(grid_->topRow());
}

void LoopTable::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  if (grid_ != nullptr) fitViewport();
}

void LoopTable::drawCell(QPainter& painter, int column, int row, const QRect& rect) {
  const bool fixed = column < FixedLoopColumns;
  painter.fillRect(rect,
                   fixed ? palette().color(QPalette::Button) : qcolour(main_form::TableBackground));
  if (fixed) {
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(rect.topLeft(), rect.topRight());
    painter.drawLine(rect.topLeft(), rect.bottomLeft());
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(rect.bottomLeft(), rect.bottomRight());
    painter.drawLine(rect.topRight(), rect.bottomRight());
  }
  const QString text = QString::fromStdString(grid_->cell(column, row));
  painter.setPen(palette().color(QPalette::Text));
  painter.drawText(rect.adjusted(2, 1, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                   text);
  if (column != 0) return;
  if (grid_->marked(row)) {
    // A loop that is not read: its number on red, without the inner margin.
    painter.fillRect(rect, qcolour(main_form::SkipMarkColour));
    painter.drawText(rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
  }
  if (grid_->moved(row)) {
    const int side = main_form::MovedCornerSide;
    const QPoint corner = rect.topRight();
    const QPoint triangle[] = {corner, corner - QPoint(side, 0), corner + QPoint(0, side)};
    painter.setPen(Qt::NoPen);
    painter.setBrush(qcolour(main_form::MovedMarkColour));
    painter.drawPolygon(triangle, 3);
  }
}

void LoopTable::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  painter.setFont(font());
  painter.fillRect(viewport()->rect(), qcolour(main_form::TableBackground));
  if (grid_ == nullptr) return;
  for (int row = grid_->topRow(); row <= grid_->lastDrawnRow(); ++row) {
    for (int column = 0; column < LoopTableColumns; ++column) {
      const QRect rect = cellRect(column, row);
      if (rect.left() > viewport()->width()) break;
      painter.setPen(Qt::black);
      painter.drawLine(rect.right() + 1, rect.top(), rect.right() + 1, rect.bottom() + 1);
      painter.drawLine(rect.left(), rect.bottom() + 1, rect.right() + 1, rect.bottom() + 1);
      painter.save();
      painter.setClipRect(rect);
      drawCell(painter, column, row, rect);
      painter.restore();
    }
  }
  const int chosen = grid_->chosenRow();
  if (chosen > 0 && chosen >= grid_->topRow() && chosen <= grid_->lastDrawnRow()) {
    painter.setPen(QPen(qcolour(main_form::ChosenRowColour), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(qrect(grid_->rowRect(chosen)).adjusted(1, 1, 0, 0));
  }
}

void LoopTable::mousePressEvent(QMouseEvent* event) {
  if (onMouseDown) onMouseDown(event->button(), event->position().toPoint());
}

void LoopTable::mouseMoveEvent(QMouseEvent* event) {
  if (onMouseMove) onMouseMove(event->buttons(), event->modifiers(), event->position().toPoint());
}

void LoopTable::mouseReleaseEvent(QMouseEvent* event) {
  if (onMouseUp) onMouseUp(event->button(), event->position().toPoint());
}

void LoopTable::contextMenuEvent(QContextMenuEvent* event) {
  if (onContextMenu) onContextMenu(event->pos(), event->globalPos());
}

}  // namespace loopmon::qt
