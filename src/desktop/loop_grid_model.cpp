#include "desktop/loop_grid_model.h"

#include <algorithm>

#include "desktop/main_form.h"

namespace loopmon {

void LoopGridModel::setRowCount(int rows) {
  rows_.resize(static_cast<size_t>(std::max(rows, 1)));
  if (!inside(chosenRow_)) chosenRow_ = 0;
  scrollTo(topRow_);
}

const std::string& LoopGridModel::cell(int column, int row) const {
  static const std::string none;
  if (!inside(row) || column < 0 || column >= LoopTableColumns) return none;
  return rows_[static_cast<size_t>(row)].cells[static_cast<size_t>(column)];
}

bool LoopGridModel::setCell(int column, int row, const std::string& text) {
  if (!inside(row) || column < 0 || column >= LoopTableColumns) return false;
  std::string& shown = rows_[static_cast<size_t>(row)].cells[static_cast<size_t>(column)];
  if (shown == text) return false;
  shown = text;
  return true;
}

const std::optional<LoopReading>& LoopGridModel::reading(int row) const {
  static const std::optional<LoopReading> none;
  return inside(row) ? rows_[static_cast<size_t>(row)].reading : none;
}

void LoopGridModel::setReading(const LoopReading& reading) {
  if (inside(reading.loop)) rows_[static_cast<size_t>(reading.loop)].reading = reading;
}

void LoopGridModel::forgetReadings() {
  for (Row& row : rows_) row.reading.reset();
}

bool LoopGridModel::marked(int row) const {
  return inside(row) && rows_[static_cast<size_t>(row)].marked;
}

bool LoopGridModel::setMarked(int row, bool marked) {
  if (!inside(row) || rows_[static_cast<size_t>(row)].marked == marked) return false;
  rows_[static_cast<size_t>(row)].marked = marked;
  return true;
}

bool LoopGridModel::moved(int row) const {
  return inside(row) && rows_[static_cast<size_t>(row)].moved;
}

bool LoopGridModel::setMoved(int row, bool moved) {
  if (!inside(row) || rows_[static_cast<size_t>(row)].moved == moved) return false;
  rows_[static_cast<size_t>(row)].moved = moved;
  return true;
}

void LoopGridModel::setChosenRow(int row) {
  chosenRow_ = row > 0 && inside(row) ? row : 0;
  if (chosenRow_ != 0 && (chosenRow_ < topRow_ || chosenRow_ >= topRow_ + visibleRowCount())) {
    scrollTo(chosenRow_ - 1);
  }
}

void LoopGridModel::setViewport(int height, int dpi) {
  height_ = std::max(height, 0);
  dpi_ = dpi > 0 ? dpi : 96;
  scrollTo(topRow_);
}

void LoopGridModel::setScrollBar(bool shown) {
  scrollBar_ = shown;
  scrollTo(topRow_);
}

int LoopGridModel::rowPitch() const {
  return px(main_form::TableRowHeight) + GridLineWidth;
}

int LoopGridModel::visibleRowCount() const {
  return std::max(1, height_ / rowPitch());
}

int LoopGridModel::lastTopRow() const {
  return std::max(0, rowCount() - visibleRowCount());
}

bool LoopGridModel::scrollTo(int row) {
  const int top = scrollBar_ ? std::clamp(row, 0, lastTopRow()) : 0;
  if (top == topRow_) return false;
  topRow_ = top;
  return true;
}

int LoopGridModel::lastDrawnRow() const {
  return std::min(rowCount(), topRow_ + visibleRowCount() + 1) - 1;
}

int LoopGridModel::columnLeft(int column) const {
  int left = 0;
  for (int c = 0; c < column; ++c) left += px(widths_[static_cast<size_t>(c)]) + GridLineWidth;
  return left;
}

Rect LoopGridModel::cellRect(int column, int row) const {
  return {columnLeft(column), (row - topRow_) * rowPitch(),
          px(widths_[static_cast<size_t>(column)]), px(main_form::TableRowHeight)};
}

Rect LoopGridModel::rowRect(int row) const {
  const Rect first = cellRect(0, row);
  const Rect last = cellRect(LoopTableColumns - 1, row);
  return {first.left, first.top, last.right() - first.left, first.height};
}

GridCell LoopGridModel::cellAt(int x, int y) const {
  if (x < 0 || y < 0) return {};
  for (int column = 0, right = 0; column < LoopTableColumns; ++column) {
    right += px(widths_[static_cast<size_t>(column)]) + GridLineWidth;
    if (x >= right) continue;
    const int row = topRow_ + y / rowPitch();
    if (row >= rowCount()) return {};
    return {column, row};
  }
  return {};
}

}  // namespace loopmon
