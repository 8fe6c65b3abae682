#pragma once
// The loop table's grid, drawn from the main window model's LoopGridModel as
// the main window's form says: fixed-style columns on the left, a silver
// background, 1-pixel black grid lines, text at the cell's top-left corner, a
// red number cell for a marked row, a blue corner on the number of a loop
// that has moved, the chosen row framed, and an optional vertical scroll bar
// that moves by whole rows. It keeps nothing of its own: it tells the grid
// its height, DPI and scroll position and asks it where the cells are.
// Mouse input goes out as cell coordinates.

#include <functional>

#include "desktop/loop_grid_model.h"
#include "gui/win32/window.h"

namespace loopmon::win32 {

class LoopTable : public DrawnControl {
 public:
  LoopTable(HWND parent, int id, DWORD style);

  // The grid to draw; nothing is drawn before.
  void setGrid(LoopGridModel* grid);
  // The grid's rows, columns, scroll bar or chosen row changed.
  void gridChanged();
  void cellChanged(int column, int row);
  void scrollTo(int row);

  // Client coordinates of a cell at the current DPI and scroll position.
  RECT cellRect(int column, int row) const;
  GridCell cellAt(POINT point) const;

  // Mouse input: press and release of a button, and moves while one is held.
  std::function<void(int col, int row, bool leftButton)> onPress;
  // `onlyLeftHeld`: the left button held, no other button and no modifier key.
  std::function<void(int col, int row, bool onlyLeftHeld)> onDrag;
  std::function<void(int row, bool leftButton)> onRelease;
  // After the right button's release over the table: the row under it (0 for
  // the heading, -1 off the cells) and the point on the screen.
  std::function<void(int row, POINT screenPoint)> onContextMenu;

 private:
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam) override;
  void paint(HDC dc, const RECT& client) override;
  void dpiChanged() override { gridChanged(); }
  void drawCell(HDC dc, int column, int row, const RECT& rect);
  void updateScrollBar();
  void mouseEvent(UINT message, WPARAM wParam, LPARAM lParam);

  LoopGridModel* grid_ = nullptr;
  int pressedButtons_ = 0;
};

}  // namespace loopmon::win32
