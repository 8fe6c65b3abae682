#include "gui/qt/loop_grid.h"

#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

namespace loopmon {

namespace {
const QColor GridBackground(192, 192, 192);
}

LoopGrid::LoopGrid(QWidget* parent) : QAbstractScrollArea(parent), rows_(1) {
  setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarShown(false);
  colWidths_.fill(64);
  viewport()->setMouseTracking(false);
  connect(verticalScrollBar(), &QScrollBar::valueChanged, viewport(),
          [this] { viewport()->update(); });
}

void LoopGrid::setRowCount(int count) {
  rows_.resize(static_cast<size_t>(std::max(count, 1)));
  updateScrollRange();
  viewport()->update();
}

void LoopGrid::setDefaultRowHeight(int height) {
  rowHeight_ = height;
  updateScrollRange();
  viewport()->update();
}

void LoopGrid::setDefaultColWidth(int width) {
  colWidths_.fill(width);
  viewport()->update();
}

void LoopGrid::setColWidth(int col, int width) {
  colWidths_[col] = width;
  viewport()->update();
}

QString LoopGrid::cell(int col, int row) const {
  if (row < 0 || row >= rowCount() || col < 0 || col >= ColCount) return {};
  return rows_[row].cells[col];
}

void LoopGrid::setCell(int col, int row, const QString& text) {
  if (row < 0 || row >= rowCount() || col < 0 || col >= ColCount) return;
  if (rows_[row].cells[col] == text) return;
  rows_[row].cells[col] = text;
  viewport()->update(cellRect(col, row));
}

int LoopGrid::mark(int row) const {
  return row >= 0 && row < rowCount() ? rows_[row].mark : 0;
}

void LoopGrid::setMark(int row, int value) {
  if (row < 0 || row >= rowCount() || rows_[row].mark == value) return;
  rows_[row].mark = value;
  viewport()->update(cellRect(0, row));
}

bool LoopGrid::moved(int row) const {
  return row >= 0 && row < rowCount() && rows_[row].moved;
}

void LoopGrid::setMoved(int row, bool moved) {
  if (row < 0 || row >= rowCount() || rows_[row].moved == moved) return;
  rows_[row].moved = moved;
  viewport()->update(cellRect(0, row));
}

int LoopGrid::colLeft(int col) const {
  int left = 0;
  for (int c = 0; c < col; ++c) left += colWidths_[c] + GridLineWidth;
  return left;
}

int LoopGrid::topRow() const {
  return verticalScrollBar()->value();
}

QRect LoopGrid::cellRect(int col, int row) const {
  return QRect(colLeft(col), (row - topRow()) * (rowHeight_ + GridLineWidth), colWidths_[col],
               rowHeight_);
}

void LoopGrid::mouseToCell(QPoint point, int& col, int& row) const {
  col = -1;
  row = -1;
  if (point.x() < 0 || point.y() < 0) return;
  for (int c = 0, left = 0; c < ColCount; ++c) {
    left += colWidths_[c] + GridLineWidth;
    if (point.x() < left) {
      col = c;
      break;
    }
  }
  const int candidate = topRow() + point.y() / (rowHeight_ + GridLineWidth);
  if (col >= 0 && candidate < rowCount()) {
    row = candidate;
  } else {
    col = -1;
  }
}

int LoopGrid::visibleRowCount() const {
  return std::max(1, viewport()->height() / (rowHeight_ + GridLineWidth));
}

void LoopGrid::updateScrollRange() {
  verticalScrollBar()->setRange(0, std::max(0, rowCount() - visibleRowCount()));
  verticalScrollBar()->setPageStep(visibleRowCount());
  verticalScrollBar()->setSingleStep(1);
}

void LoopGrid::setVerticalScrollBarShown(bool shown) {
  setVerticalScrollBarPolicy(shown ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  if (!shown) verticalScrollBar()->setValue(0);
  updateScrollRange();
}

void LoopGrid::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  updateScrollRange();
}

void LoopGrid::drawCell(QPainter& painter, int col, int row, const QRect& rect) {
  const bool fixed = col < FixedCols;
  painter.fillRect(rect, fixed ? palette().color(QPalette::Button) : GridBackground);
  if (fixed) {
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(rect.topLeft(), rect.topRight());
    painter.drawLine(rect.topLeft(), rect.bottomLeft());
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(rect.bottomLeft(), rect.bottomRight());
    painter.drawLine(rect.topRight(), rect.bottomRight());
  }
  painter.setPen(palette().color(QPalette::Text));
  painter.drawText(rect.adjusted(2, 1, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                   rows_[row].cells[col]);
  if (onDrawCell) onDrawCell(painter, col, row, rect);
}

void LoopGrid::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  painter.setFont(font());
  painter.fillRect(viewport()->rect(), GridBackground);
  const int lastRow = std::min(rowCount(), topRow() + visibleRowCount() + 1);
  for (int row = topRow(); row < lastRow; ++row) {
    for (int col = 0; col < ColCount; ++col) {
      const QRect rect = cellRect(col, row);
      if (rect.left() > viewport()->width()) break;
      painter.setPen(Qt::black);
      painter.drawLine(rect.right() + 1, rect.top(), rect.right() + 1, rect.bottom() + 1);
      painter.drawLine(rect.left(), rect.bottom() + 1, rect.right() + 1, rect.bottom() + 1);
      painter.save();
      painter.setClipRect(rect);
      drawCell(painter, col, row, rect);
      painter.restore();
    }
  }
}

void LoopGrid::mousePressEvent(QMouseEvent* event) {
  if (onMouseDown) onMouseDown(event->button(), event->position().toPoint());
}

void LoopGrid::mouseMoveEvent(QMouseEvent* event) {
  if (onMouseMove) onMouseMove(event->buttons(), event->modifiers(), event->position().toPoint());
}

void LoopGrid::mouseReleaseEvent(QMouseEvent* event) {
  if (onMouseUp) onMouseUp(event->button(), event->position().toPoint());
}

void LoopGrid::contextMenuEvent(QContextMenuEvent* event) {
  if (onContextMenu) onContextMenu(event->pos(), event->globalPos());
}

}  // namespace loopmon
