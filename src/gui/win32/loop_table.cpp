#include "gui/win32/loop_table.h"

#include <windowsx.h>

#include <algorithm>

#include "desktop/main_form.h"

namespace loopmon::win32 {

namespace {

constexpr int GridLine = 1;
// Text sits this far inside a cell that is not marked.
constexpr int TextInsetX = 2;
constexpr int TextInsetY = 1;

const std::string& emptyText() {
  static const std::string empty;
  return empty;
}

COLORREF colourRef(Colour colour) {
  return RGB(colour.red, colour.green, colour.blue);
}

}  // namespace

LoopTable::LoopTable(HWND parent, int id, DWORD style) : rows_(1) {
  colWidths_.fill(64);
  createWindow({L"Loopmon.LoopTable"}, WS_CHILD | WS_VISIBLE | style, WS_EX_CLIENTEDGE, "", parent,
               id);
  updateScrollBar();
}

int LoopTable::px(int pixelsAt96) const {
  return scaled(pixelsAt96, static_cast<int>(dpi()));
}

int LoopTable::rowPitch() const {
  return px(main_form::TableRowHeight) + GridLine;
}

int LoopTable::colLeft(int col) const {
  int left = 0;
  for (int c = 0; c < col; ++c) left += px(colWidths_[c]) + GridLine;
  return left;
}

int LoopTable::visibleRowCount() const {
  RECT client{};
  GetClientRect(hwnd(), &client);
  return std::max(1, static_cast<int>(client.bottom) / rowPitch());
}

void LoopTable::setRowCount(int count) {
  rows_.resize(static_cast<size_t>(std::max(count, 1)));
  updateScrollBar();
  InvalidateRect(hwnd(), nullptr, FALSE);
}

void LoopTable::setColumnWidths(const std::array<int, LoopTableColumns>& widths) {
  colWidths_ = widths;
  InvalidateRect(hwnd(), nullptr, FALSE);
}

const std::string& LoopTable::cell(int col, int row) const {
  if (row < 0 || row >= rowCount() || col < 0 || col >= LoopTableColumns) return emptyText();
  return rows_[row].cells[col];
}

void LoopTable::setCell(int col, int row, const std::string& text) {
  if (row < 0 || row >= rowCount() || col < 0 || col >= LoopTableColumns) return;
  if (rows_[row].cells[col] == text) return;
  rows_[row].cells[col] = text;
  invalidateCell(col, row);
}

bool LoopTable::mark(int row) const {
  return row >= 0 && row < rowCount() && rows_[row].marked;
}

void LoopTable::setMark(int row, bool marked) {
  if (row < 0 || row >= rowCount() || rows_[row].marked == marked) return;
  rows_[row].marked = marked;
  invalidateCell(0, row);
}

bool LoopTable::moved(int row) const {
  return row >= 0 && row < rowCount() && rows_[row].moved;
}

void LoopTable::setMoved(int row, bool moved) {
  if (row < 0 || row >= rowCount() || rows_[row].moved == moved) return;
  rows_[row].moved = moved;
  invalidateCell(0, row);
}

void LoopTable::setChosenRow(int row) {
  chosenRow_ = row > 0 && row < rowCount() ? row : 0;
  if (chosenRow_ != 0 && (chosenRow_ < topRow_ || chosenRow_ >= topRow_ + visibleRowCount())) {
    scrollTo(chosenRow_ - 1);
  }
  InvalidateRect(hwnd(), nullptr, FALSE);
}

void LoopTable::invalidateCell(int col, int row) {
  const RECT rect = cellRect(col, row);
  InvalidateRect(hwnd(), &rect, FALSE);
}

void LoopTable::setVerticalScrollBarShown(bool shown) {
  scrollBar_ = shown;
  if (!shown) topRow_ = 0;
  updateScrollBar();
  InvalidateRect(hwnd(), nullptr, FALSE);
}

void LoopTable::scrollTo(int row) {
  const int last = std::max(0, rowCount() - visibleRowCount());
  const int top = scrollBar_ ? std::clamp(row, 0, last) : 0;
  if (top == topRow_) return;
  topRow_ = top;
  updateScrollBar();
  InvalidateRect(hwnd(), nullptr, FALSE);
}

void LoopTable::updateScrollBar() {
  ShowScrollBar(hwnd(), SB_VERT, scrollBar_);
  if (!scrollBar_) return;
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_ALL | SIF_DISABLENOSCROLL;
  info.nMin = 0;
  info.nMax = rowCount() - 1;
  info.nPage = static_cast<UINT>(visibleRowCount());
  info.nPos = topRow_;
  SetScrollInfo(hwnd(), SB_VERT, &info, TRUE);
}

RECT LoopTable::cellRect(int col, int row) const {
  const int left = colLeft(col);
  const int top = (row - topRow_) * rowPitch();
  return RECT{left, top, left + px(colWidths_[col]), top + px(main_form::TableRowHeight)};
}

void LoopTable::cellAt(POINT point, int& col, int& row) const {
  col = -1;
  row = -1;
  if (point.x < 0 || point.y < 0) return;
  for (int c = 0, right = 0; c < LoopTableColumns; ++c) {
    right += px(colWidths_[c]) + GridLine;
    if (point.x < right) {
      col = c;
      break;
    }
  }
  const int candidate = topRow_ + point.y / rowPitch();
  if (col >= 0 && candidate < rowCount()) {
    row = candidate;
  } else {
    col = -1;
  }
}

void LoopTable::drawCell(HDC dc, int col, int row, const RECT& rect) {
  RECT box = rect;
  if (col < FixedLoopColumns) {
    FillRect(dc, &box, GetSysColorBrush(COLOR_BTNFACE));
    DrawEdge(dc, &box, BDR_RAISEDINNER, BF_RECT);
  }
  const std::wstring text = widen(rows_[row].cells[col]);
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  RECT inner{rect.left + TextInsetX, rect.top + TextInsetY, rect.right, rect.bottom};
  const UINT format = DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX;
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &inner, format);
  if (col == 0 && rows_[row].marked) {
    // A loop that is not read: its number on red, without the inner margin.
    HBRUSH red = CreateSolidBrush(colourRef(main_form::SkipMarkColour));
    FillRect(dc, &box, red);
    DeleteObject(red);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box, format);
  }
  if (col == 0 && rows_[row].moved) {
    const int side = px(main_form::MovedCornerSide);
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
  const int lastRow = std::min(rowCount(), topRow_ + visibleRowCount() + 1);
  for (int row = topRow_; row < lastRow; ++row) {
    for (int col = 0; col < LoopTableColumns; ++col) {
      const RECT rect = cellRect(col, row);
      if (rect.left > client.right) break;
      MoveToEx(dc, rect.right, rect.top, nullptr);
      LineTo(dc, rect.right, rect.bottom + 1);
      MoveToEx(dc, rect.left, rect.bottom, nullptr);
      LineTo(dc, rect.right + 1, rect.bottom);
      drawCell(dc, col, row, rect);
    }
  }
  if (chosenRow_ > 0 && chosenRow_ >= topRow_ && chosenRow_ < lastRow) {
    const RECT first = cellRect(0, chosenRow_);
    const RECT last = cellRect(LoopTableColumns - 1, chosenRow_);
    HPEN frame = CreatePen(PS_INSIDEFRAME, px(2), colourRef(main_form::ChosenRowColour));
    SelectObject(dc, frame);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, first.left, first.top, last.right + 1, last.bottom + 1);
    SelectObject(dc, oldBrush);
    SelectObject(dc, GetStockObject(BLACK_PEN));
    DeleteObject(frame);
  }
  SelectObject(dc, oldPen);
  if (oldFont) SelectObject(dc, oldFont);
}

void LoopTable::mouseEvent(UINT message, WPARAM wParam, LPARAM lParam) {
  const POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  int col = -1;
  int row = -1;
  cellAt(point, col, row);
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
      updateScrollBar();
      return 0;
    case WM_VSCROLL: {
      SCROLLINFO info{};
      info.cbSize = sizeof info;
      info.fMask = SIF_ALL;
      GetScrollInfo(hwnd(), SB_VERT, &info);
      int top = topRow_;
      switch (LOWORD(wParam)) {
        case SB_LINEUP:
          --top;
          break;
        case SB_LINEDOWN:
          ++top;
          break;
        case SB_PAGEUP:
          top -= visibleRowCount();
          break;
        case SB_PAGEDOWN:
          top += visibleRowCount();
          break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION:
          top = info.nTrackPos;
          break;
        case SB_TOP:
          top = 0;
          break;
        case SB_BOTTOM:
          top = rowCount();
          break;
        default:
          break;
      }
      scrollTo(top);
      return 0;
    }
    case WM_MOUSEWHEEL: {
      const int notches = GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA;
      scrollTo(topRow_ - 3 * notches);
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
        int col = -1;
        int row = -1;
        cellAt(point, col, row);
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
      switch (wParam) {
        case VK_UP:
          scrollTo(topRow_ - 1);
          return 0;
        case VK_DOWN:
          scrollTo(topRow_ + 1);
          return 0;
        case VK_PRIOR:
          scrollTo(topRow_ - visibleRowCount());
          return 0;
        case VK_NEXT:
          scrollTo(topRow_ + visibleRowCount());
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
