#pragma once
// The loop table's grid, drawn by the program as the main window's form
// says: fixed-style columns on the left, a silver background, 1-pixel black
// grid lines, text at the cell's top-left corner, a red number cell for a
// marked row, a blue corner on the number of a loop that has moved, and an
// optional vertical scroll bar that moves by whole rows. Sizes are given at
// 96 DPI and drawn at the DPI of the font it was given. Mouse input goes out
// as cell coordinates.

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "gui/win32/window.h"
#include "loops/loop_layout.h"

namespace loopmon::win32 {

class LoopTable : public DrawnControl {
 public:
  LoopTable(HWND parent, int id, DWORD style);

  int rowCount() const { return static_cast<int>(rows_.size()); }
  // Never below one row; rows dropped lose their texts and marks, new rows
  // start empty and unmarked.
  void setRowCount(int count);
  // The columns' widths at 96 DPI.
  void setColumnWidths(const std::array<int, LoopTableColumns>& widths);
  int colWidth(int col) const { return colWidths_[col]; }

  const std::string& cell(int col, int row) const;
  void setCell(int col, int row, const std::string& text);
  bool mark(int row) const;
  void setMark(int row, bool marked);
  // A loop that has moved since the reading started: a corner of its number's cell.
  bool moved(int row) const;
  void setMoved(int row, bool moved);
  // A row framed and scrolled into sight (0: none).
  int chosenRow() const { return chosenRow_; }
  void setChosenRow(int row);

  void setVerticalScrollBarShown(bool shown);
  bool verticalScrollBarShown() const { return scrollBar_; }
  int topRow() const { return topRow_; }
  void scrollTo(int row);

  // Client coordinates of a cell at the current DPI and scroll position.
  RECT cellRect(int col, int row) const;
  // Column and row under a client point, -1 for none.
  void cellAt(POINT point, int& col, int& row) const;

  // Mouse input: press and release of a button, and moves while one is held.
  std::function<void(int col, int row, bool leftButton)> onPress;
  // `onlyLeftHeld`: the left button held, no other button and no modifier key.
  std::function<void(int col, int row, bool onlyLeftHeld)> onDrag;
  std::function<void(int row, bool leftButton)> onRelease;
  // After the right button's release over the table: the row under it (0 for
  // the heading, -1 off the cells) and the point on the screen.
  std::function<void(int row, POINT screenPoint)> onContextMenu;

 private:
  struct Row {
    std::array<std::string, LoopTableColumns> cells;
    bool marked = false;
    bool moved = false;
  };

  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam) override;
  void paint(HDC dc, const RECT& client) override;
  void dpiChanged() override { updateScrollBar(); }
  void drawCell(HDC dc, int col, int row, const RECT& rect);
  int px(int pixelsAt96) const;
  int rowPitch() const;
  int colLeft(int col) const;
  int visibleRowCount() const;
  void updateScrollBar();
  void invalidateCell(int col, int row);
  void mouseEvent(UINT message, WPARAM wParam, LPARAM lParam);

  std::vector<Row> rows_;
  std::array<int, LoopTableColumns> colWidths_{};
  int topRow_ = 0;
  bool scrollBar_ = false;
  int pressedButtons_ = 0;
  int chosenRow_ = 0;
};

}  // namespace loopmon::win32
