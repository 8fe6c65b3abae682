#pragma once
// The loop table's grid without a toolkit: its rows (the reading each row
// shows and the texts it shows), the skip marks, the moved marks, the row
// another window chose, and the geometry both front ends draw, hit-test and
// scroll with. A front end keeps nothing of its own: it tells the grid its
// height and resolution and draws from it at paint time.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "desktop/form.h"
#include "loops/loop_layout.h"
#include "loops/loop_reading.h"

namespace loopmon {

// A cell of the grid; -1 for none.
struct GridCell {
  int column = -1;
  int row = -1;
  bool operator==(const GridCell&) const = default;
};

class LoopGridModel {
 public:
  static constexpr int GridLineWidth = 1;

  LoopGridModel() : rows_(1) {}

  int rowCount() const { return static_cast<int>(rows_.size()); }
  // Never below one row; rows dropped lose their texts and marks, new rows
  // start empty, unmarked and not moved.
  void setRowCount(int rows);
  // Empty past the grid.
  const std::string& cell(int column, int row) const;
  // False when the cell is past the grid or already shows `text`.
  bool setCell(int column, int row, const std::string& text);
  // The reading the row shows, unset before its first one and once the
  // table is blanked.
  const std::optional<LoopReading>& reading(int row) const;
  // The row of the reading's loop.
  void setReading(const LoopReading& reading);
  void forgetReadings();
  bool marked(int row) const;
  // False when nothing changed.
  bool setMarked(int row, bool marked);
  // The loop has moved into or out of alarm, open or short: the blue corner.
  bool moved(int row) const;
  bool setMoved(int row, bool moved);
  // The row another window chose, framed; 0 for none. Choosing a row scrolls
  // it into sight.
  int chosenRow() const { return chosenRow_; }
  void setChosenRow(int row);

  // Geometry. Widths are at 96 DPI; rectangles and points are in the grid's
  // client pixels at `dpi`, the first visible row at the top.
  void setColumnWidths(const std::array<int, LoopTableColumns>& widths) { widths_ = widths; }
  int columnWidth(int column) const { return widths_[static_cast<size_t>(column)]; }
  // The client area's height in pixels and the resolution it is drawn at.
  void setViewport(int height, int dpi);
  int dpi() const { return dpi_; }
  // Only a grid with a scroll bar scrolls.
  void setScrollBar(bool shown);
  bool scrollBar() const { return scrollBar_; }
  int topRow() const { return topRow_; }
  // The last top row that still fills the view.
  int lastTopRow() const;
  // Clamped to the rows there are; false when the top row stays.
  bool scrollTo(int row);
  int visibleRowCount() const;
  // The rows to draw, from topRow() on: the last one may be cut.
  int lastDrawnRow() const;
  Rect cellRect(int column, int row) const;
  // The whole chosen row's rectangle, all columns.
  Rect rowRect(int row) const;
  GridCell cellAt(int x, int y) const;

 private:
  struct Row {
    std::array<std::string, LoopTableColumns> cells;
    std::optional<LoopReading> reading;
    bool marked = false;
    bool moved = false;
  };
  bool inside(int row) const { return row >= 0 && row < rowCount(); }
  int px(int at96) const { return scaled(at96, dpi_); }
  int rowPitch() const;
  int columnLeft(int column) const;

  std::vector<Row> rows_;
  int chosenRow_ = 0;
  std::array<int, LoopTableColumns> widths_{64, 64, 64, 64};
  int height_ = 0;
  int dpi_ = 96;
  bool scrollBar_ = false;
  int topRow_ = 0;
};

}  // namespace loopmon
