#include "gui/qt/loop_table.h"

#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

#include "desktop/main_form.h"

namespace loopmon::qt {

namespace {

QColor qcolour(Colour colour) {
  return {colour.red, colour.green, colour.blue};
}

constexpr int RowHeight = main_form::TableRowHeight;

}  // namespace

LoopTable::LoopTable(QWidget* parent) : QAbstractScrollArea(parent), rows_(1) {
  setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarShown(false);
  colWidths_.fill(64);
  viewport()->setMouseTracking(false);
  connect(verticalScrollBar(), &QScrollBar::valueChanged, viewport(),
          [this] { viewport()->update(); });
}

void LoopTable::setRowCount(int count) {
  rows_.resize(static_cast<size_t>(std::max(count, 1)));
  updateScrollRange();
  viewport()->update();
}

void LoopTable::setColumnWidths(const std::array<int, LoopTableColumns>& widths) {
  colWidths_ = widths;
  viewport()->update();
}

QString LoopTable::cell(int col, int row) const {
  if (row < 0 || row >= rowCount() || col < 0 || col >= LoopTableColumns) return {};
  return rows_[row].cells[col];
}

void LoopTable::setCell(int col, int row, const QString& text) {
  if (row < 0 || row >= rowCount() || col < 0 || col >= LoopTableColumns) return;
  if (rows_[row].cells[col] == text) return;
  rows_[row].cells[col] = text;
  viewport()->update(cellRect(col, row));
}

int LoopTable::mark(int row) const {
  return row >= 0 && row < rowCount() ? rows_[row].mark : 0;
}

void LoopTable::setMark(int row, int value) {
  if (row < 0 || row >= rowCount() || rows_[row].mark == value) return;
  rows_[row].mark = value;
  viewport()->update(cellRect(0, row));
}

bool LoopTable::moved(int row) const {
  return row >= 0 && row < rowCount() && rows_[row].moved;
}

void LoopTable::setMoved(int row, bool moved) {
  if (row < 0 || row >= rowCount() || rows_[row].moved == moved) return;
  rows_[row].moved = moved;
  viewport()->update(cellRect(0, row));
}

int LoopTable::colLeft(int col) const {
  int left = 0;
  for (int c = 0; c < col; ++c) left += colWidths_[c] + GridLineWidth;
  return left;
}

void LoopTable::setChosenRow(int row) {
  chosenRow_ = row > 0 && row < rowCount() ? row : 0;
  if (chosenRow_ != 0 && (chosenRow_ < topRow() || chosenRow_ >= topRow() + visibleRowCount())) {
    verticalScrollBar()->setValue(chosenRow_ - 1);
  }
  viewport()->update();
}

int LoopTable::topRow() const {
  return verticalScrollBar()->value();
}

QRect LoopTable::cellRect(int col, int row) const {
  return QRect(colLeft(col), (row - topRow()) * (RowHeight + GridLineWidth), colWidths_[col],
               RowHeight);
}

void LoopTable::mouseToCell(QPoint point, int& col, int& row) const {
  col = -1;
  row = -1;
  if (point.x() < 0 || point.y() < 0) return;
  for (int c = 0, left = 0; c < LoopTableColumns; ++c) {
    left += colWidths_[c] + GridLineWidth;
    if (point.x() < left) {
      col = c;
      break;
    }
  }
  const int candidate = topRow() + point.y() / (RowHeight + GridLineWidth);
  if (col >= 0 && candidate < rowCount()) {
    row = candidate;
  } else {
    col = -1;
  }
}

int LoopTable::visibleRowCount() const {
  return std::max(1, viewport()->height() / (RowHeight + GridLineWidth));
}

void LoopTable::updateScrollRange() {
  verticalScrollBar()->setRange(0, std::max(0, rowCount() - visibleRowCount()));
  verticalScrollBar()->setPageStep(visibleRowCount());
  verticalScrollBar()->setSingleStep(1);
}

void LoopTable::setVerticalScrollBarShown(bool shown) {
  setVerticalScrollBarPolicy(shown ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  if (!shown) verticalScrollBar()->setValue(0);
  updateScrollRange();
}

void LoopTable::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  updateScrollRange();
}

void LoopTable::drawCell(QPainter& painter, int col, int row, const QRect& rect) {
  const bool fixed = col < FixedLoopColumns;
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
  painter.setPen(palette().color(QPalette::Text));
  painter.drawText(rect.adjusted(2, 1, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                   rows_[row].cells[col]);
  if (col != 0) return;
  if (rows_[row].mark != 0) {
    // A loop that is not read: its number on red, without the inner margin.
    painter.fillRect(rect, qcolour(main_form::SkipMarkColour));
    painter.drawText(rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                     rows_[row].cells[col]);
  }
  if (rows_[row].moved) {
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
  const int lastRow = std::min(rowCount(), topRow() + visibleRowCount() + 1);
  for (int row = topRow(); row < lastRow; ++row) {
    for (int col = 0; col < LoopTableColumns; ++col) {
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
  if (chosenRow_ > 0 && chosenRow_ >= topRow() && chosenRow_ < lastRow) {
    const QRect first = cellRect(0, chosenRow_);
    const QRect last = cellRect(LoopTableColumns - 1, chosenRow_);
    painter.setPen(QPen(qcolour(main_form::ChosenRowColour), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(first.topLeft(), last.bottomRight()).adjusted(1, 1, 0, 0));
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
