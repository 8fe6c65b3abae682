#include "gui/win32/loop_table.h"

#include <windowsx.h>

#include <algorithm>

#include "desktop/main_form.h"

namespace loopmon::win32 {

namespace {

// Text sits this far inside a cell that is not marked.
constexpr int TextInsetX = 2;
constexpr int TextInsetY = 1;

COLORREF colourRef(Colour colour) {
  return RGB(colour.red, colour.green, colour.blue);
}

RECT rectOf(const Rect& rect) {
  return RECT{rect.left, rect.top, rect.right(), rect.bottom()};
}

}  // namespace

LoopTable::LoopTable(HWND parent, int id, DWORD style) {
  createWindow({L"Loopmon.LoopTable"}, WS_CHILD | WS_VISIBLE | style, WS_EX_CLIENTEDGE, "", parent,
               id);
}

void LoopTable::setGrid(LoopGridModel* grid) {
  grid_ = grid;
  gridChanged();
}

void LoopTable::gridChanged() {
  if (grid_ == nullptr) return;
  RECT client{};
  GetClientRect(hwnd(), &client);
  grid_->setViewport(static_cast<int>(client.bottom), static_cast<int>(dpi()));
  updateScrollBar();
  InvalidateRect(hwnd(), nullptr, FALSE);
}

void LoopTable::cellChanged(int column, int row) {
  if (grid_ == nullptr) return;
  const RECT rect = cellRect(column, row);
  InvalidateRect(hwnd(), &rect, FALSE);
}

void LoopTable::scrollTo(int row) {
  if (grid_ == nullptr || !grid_->scrollTo(row)) return;
  updateScrollBar();
  InvalidateRect(hwnd(), nullptr, FALSE);
}

void LoopTable::updateScrollBar() {
  ShowScrollBar(hwnd(), SB_VERT, grid_->scrollBar());
  if (!grid_->scrollBar()) return;
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_ALL | SIF_DISABLENOSCROLL;
  info.nMin = 0;
  info.nMax = grid_->rowCount() - 1;
  info.nPage = static_cast<UINT>(grid_->visibleRowCount());
  info.nPos = grid_->topRow();
  SetScrollInfo(hwnd(), SB_VERT, &info, TRUE);
}

RECT LoopTable::cellRect(int column, int row) const {
  return grid_ != nullptr ? rectOf(grid_->cellRect(column, row)) : RECT{};
}

GridCell LoopTable::cellAt(POINT point) const {
  return grid_ != nullptr ? grid_->cellAt(point.x, point.y) : GridCell{};
}

void LoopTable::drawCell(HDC dc, int column, int row, const RECT& rect) {
  RECT box = rect;
  if (column < FixedLoopColumns) {
    FillRect(dc, &box, GetSysColorBrush(COLOR_BTNFACE));
    DrawEdge(dc, &box, BDR_RAISEDINNER, BF_RECT);
  }
  const std::wstring text = widen(grid_->cell(column, row));
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  RECT inner{rect.left + TextInsetX, rect.top + TextInsetY, rect.right, rect.bottom};
  const UINT format = DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX;
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &inner, format);
  if (column == 0 && grid_->marked(row)) {
    // A loop that is not read: its number on red, without the inner margin.
    HBRUSH red = CreateSolidBrush(colourRef(main_form::SkipMarkColour));
    FillRect(dc, &box, red);
    DeleteObject(red);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box, format);
  }
  if (column == 0 && grid_->moved(row)) {
    const int side = scaled(main_form::MovedCornerSide, static_cast<int>(dpi()));
    const POINT corner[] = {
        {rect.right, rect.top}, {rect.right - side, rect.top}, {rect.right, rect.top + side}};
    HBRUSH blue = CreateSolidBrush(colourRef(main_form::MovedMarkColour));
    HGDIOBJ oldBrush = SelectObject(dc, blue);
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
    Polygon(dc, corner, 3);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(blue);
  }
}

void LoopTable::paint(HDC dc, const RECT& client) {
  HBRUSH silver = CreateSolidBrush(colourRef(main_form::TableBackground));
  FillRect(dc, &client, silver);
  DeleteObject(silver);
  HGDIOBJ oldFont = font() ? SelectObject(dc, font()) : nullptr;
  HGDIOBJ oldPen = SelectObject(dc, GetStockObject(BLACK_PEN));
  SetBkMode(dc, TRANSPARENT);
  const int lastRow = grid_ != nullptr ? grid_->lastDrawnRow() : -1;
  for (int row = grid_ != nullptr ? grid_->topRow() : 0; row <= lastRow; ++row) {
    for (int column = 0; column < LoopTableColumns; ++column) {
      const RECT rect = cellRect(column, row);
      if (rect.left > client.right) break;
      MoveToEx(dc, rect.right, rect.top, nullptr);
      LineTo(dc, rect.right, rect.bottom + 1);
      MoveToEx(dc, rect.left, rect.bottom, nullptr);
      LineTo(dc, rect.right + 1, rect.bottom);
      drawCell(dc, column, row, rect);
    }
  }
  const int chosen = grid_ != nullptr ? grid_->chosenRow() : 0;
  if (chosen > 0 && chosen >= grid_->topRow() && chosen <= lastRow) {
    const RECT frameRect = rectOf(grid_->rowRect(chosen));
    HPEN frame = CreatePen(PS_INSIDEFRAME, scaled(2, static_cast<int>(dpi())),
                           colourRef(main_form::ChosenRowColour));
    SelectObject(dc, frame);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, frameRect.left, frameRect.top, frameRect.right + 1, frameRect.bottom + 1);
    SelectObject(dc, oldBrush);
    SelectObject(dc, GetStockObject(BLACK_PEN));
    DeleteObject(frame);
  }
  SelectObject(dc, oldPen);
  if (oldFont) SelectObject(dc, oldFont);
}

void LoopTable::mouseEvent(UINT message, WPARAM wParam, LPARAM lParam) {
  const POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  const GridCell cell = cellAt(point);
  const int col = cell.column;
  const int row = cell.row;
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      // Held until the last button goes up, so a drag past the edges still reports.
      if (pressedButtons_++ == 0) SetCapture(hwnd());
      SetFocus(hwnd());
      if (onPress) onPress(col, row, message == WM_LBUTTONDOWN);
      break;
    case WM_MOUSEMOVE: {
      const WPARAM buttons = wParam & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON);
      if (buttons == 0) break;
      const bool onlyLeft = wParam == MK_LBUTTON && GetKeyState(VK_MENU) >= 0;
      if (onDrag) onDrag(col, row, onlyLeft);
      break;
    }
    default:
      if (pressedButtons_ > 0 && --pressedButtons_ == 0) ReleaseCapture();
      if (onRelease) onRelease(row, message == WM_LBUTTONUP);
      break;
  }
}

LRESULT LoopTable::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE:
      gridChanged();
      return 0;
    case WM_VSCROLL: {
      if (grid_ == nullptr) return 0;
      SCROLLINFO info{};
      info.cbSize = sizeof info;
      info.fMask = SIF_ALL;
      GetScrollInfo(hwnd(), SB_VERT, &info);
      int top = grid_->topRow();
      switch (LOWORD(wParam)) {
        case SB_LINEUP:
          --top;
          break;
        case SB_LINEDOWN:
          ++top;
          break;
        case SB_PAGEUP:
          top -= grid_->visibleRowCount();
          break;
        case SB_PAGEDOWN:
          top += grid_->visibleRowCount();
          break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION:
          top = info.nTrackPos;
          break;
        case SB_TOP:
          top = 0;
          break;
        case SB_BOTTOM:
          top = grid_->rowCount();
          break;
        default:
          break;
      }
      scrollTo(top);
      return 0;
    }
    case WM_MOUSEWHEEL: {
      if (grid_ == nullptr) return 0;
      const int notches = GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA;
      scrollTo(grid_->topRow() - 3 * notches);
      return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
    case WM_MOUSEMOVE:
      mouseEvent(message, wParam, lParam);
      if (message == WM_RBUTTONUP && onContextMenu) {
        POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        const int row = cellAt(point).row;
        ClientToScreen(hwnd(), &point);
        onContextMenu(row, point);
      }
      return 0;
    case WM_CAPTURECHANGED:
      if (reinterpret_cast<HWND>(lParam) != hwnd()) pressedButtons_ = 0;
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS;
    case WM_KEYDOWN:
      if (grid_ == nullptr) break;
      switch (wParam) {
        case VK_UP:
          scrollTo(grid_->topRow() - 1);
          return 0;
        case VK_DOWN:
          scrollTo(grid_->topRow() + 1);
          return 0;
        case VK_PRIOR:
          scrollTo(grid_->topRow() - grid_->visibleRowCount());
          return 0;
        case VK_NEXT:
          scrollTo(grid_->topRow() + grid_->visibleRowCount());
          return 0;
        default:
          break;
      }
      break;
    default:
      break;
  }
  return DrawnControl::handle(message, wParam, lParam);
}

}  // namespace loopmon::win32
