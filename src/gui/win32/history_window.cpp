#include "gui/win32/history_window.h"

#include <commdlg.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "common/number_text.h"
#include "gui/win32/controls.h"
#include "gui/win32/dialog_layout.h"
#include "gui/win32/dpi.h"
#include "gui/win32/message_box.h"

namespace loopmon::win32 {

namespace {

constexpr wchar_t WindowClass[] = L"LoopmonHistoryWindow";
constexpr wchar_t PlotClass[] = L"LoopmonHistoryPlot";
constexpr UINT_PTR RefreshTimer = 1;
constexpr UINT RefreshMs = 1000;
constexpr DWORD Style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;

// The layout at 96 DPI.
constexpr int ClientWidth = 640;
constexpr int ClientHeight = 360;
constexpr int MinimumClientWidth = 480;
constexpr int MinimumClientHeight = 220;
constexpr int Margin = 8;
constexpr int TopRowHeight = 38;

constexpr COLORREF GridColour = RGB(220, 220, 220);
constexpr COLORREF AxisColour = RGB(110, 110, 110);

struct ConditionStyle {
  LoopCondition condition;
  COLORREF colour;
};
// The moments of each kind in their own colour, in the legend's order.
// The same colours as the Linux program's; none of them the red of a skip mark.
constexpr ConditionStyle MarkedConditions[] = {{LoopCondition::Alarm, RGB(230, 110, 0)},
                                               {LoopCondition::Open, RGB(30, 90, 220)},
                                               {LoopCondition::Short, RGB(170, 0, 170)}};

SavePathHook& currentSavePathHook() {
  static SavePathHook hook;
  return hook;
}

std::runtime_error systemError(DWORD code) {
  return std::runtime_error(systemMessage(code));
}

// Whole or not at all: a failed write leaves an existing file as it was and
// no half-written one behind.
void writeFileWhole(const std::wstring& path, const std::string& text) {
  // Renaming over a read-only file is refused by Windows, not by every
  // emulation of it: refused here for all.
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    throw systemError(ERROR_ACCESS_DENIED);
  }
  const size_t slash = path.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? L"." : path.substr(0, slash + 1);
  wchar_t temporary[MAX_PATH];
  if (!GetTempFileNameW(folder.c_str(), L"lmh", 0, temporary)) throw systemError(GetLastError());
  HANDLE file = CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD error = file == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    if (!WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size() || !FlushFileBuffers(file)) {
      error = GetLastError();
    }
    CloseHandle(file);
  }
  if (error == ERROR_SUCCESS &&
      !MoveFileExW(temporary, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = GetLastError();
  }
  if (error != ERROR_SUCCESS) {
    DeleteFileW(temporary);
    throw systemError(error);
  }
}

std::optional<std::wstring> askSavePath(HWND owner, const std::wstring& suggested) {
  std::wstring path(32768, L'\0');
  std::copy(suggested.begin(), suggested.end(), path.begin());
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = L"Файлы CSV (*.csv)\0*.csv\0Все файлы (*.*)\0*.*\0";
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = static_cast<DWORD>(path.size());
  dialog.lpstrDefExt = L"csv";
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
  if (!GetSaveFileNameW(&dialog)) return std::nullopt;
  path.resize(wcslen(path.c_str()));
  return path;
}

// "14:26:45" of the local time.
std::wstring clockText(WallTime time) {
  return widen(IsoTime(time).substr(11, 8));
}

std::string kiloOhmsText(const std::optional<Extreme>& extreme) {
  return extreme ? FormatFixed(extreme->kiloOhms, 1) + " кОм" : "—";
}

HWND createChild(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style, int id,
                 void* creator = nullptr) {
  return CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                         GetModuleHandleW(nullptr), creator);
}

// The object behind a window: given with the creation, kept in its user data.
template <class Object>
Object* windowObject(HWND window, UINT message, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* object = static_cast<Object*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(object));
  }
  return reinterpret_cast<Object*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

}  // namespace

std::optional<COLORREF> historyConditionColour(LoopCondition condition) {
  for (const ConditionStyle& style : MarkedConditions) {
    if (style.condition == condition) return style.colour;
  }
  return std::nullopt;
}

SavePathHook setSavePathHook(SavePathHook hook) {
  return std::exchange(currentSavePathHook(), std::move(hook));
}

HistoryWindow::HistoryWindow(const LoopHistory& history, LoopKey key)
    : history_(history), key_(key) {}

HistoryWindow::~HistoryWindow() {
  if (window_) DestroyWindow(window_);
}

void HistoryWindow::show(HWND owner) {
  if (!window_) create(owner);
  ShowWindow(window_, SW_SHOW);
  SetForegroundWindow(window_);
}

void HistoryWindow::create(HWND owner) {
  registerWindowClass(WindowClass, {.procedure = &HistoryWindow::windowProc,
                                    .background = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1)});
  // Painted whole through a bitmap: no background of its own, no flicker.
  registerWindowClass(PlotClass,
                      {.procedure = &HistoryWindow::plotProc, .style = CS_HREDRAW | CS_VREDRAW});

  const std::wstring title = L"История шлейфа " + std::to_wstring(key_.loop) + L" — адрес " +
                             std::to_wstring(key_.address);
  dpi_ = windowDpi(owner);
  const SIZE size = windowSizeForClient(Style, 0, ClientWidth, ClientHeight, dpi_);
  CreateWindowExW(0, WindowClass, title.c_str(), Style, CW_USEDEFAULT, CW_USEDEFAULT, size.cx,
                  size.cy, owner, nullptr, GetModuleHandleW(nullptr), this);
}

LRESULT CALLBACK HistoryWindow::windowProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
  auto* self = windowObject<HistoryWindow>(window, message, lParam);
  if (message == WM_NCCREATE) self->window_ = window;
  if (!self || !self->window_) return DefWindowProcW(window, message, wParam, lParam);
  return self->handle(message, wParam, lParam);
}

LRESULT HistoryWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      // The owner's DPI was a guess; the window's own monitor decides.
      dpi_ = windowDpi(window_);
      createFonts();
      minimumLabel_ = createChild(window_, L"STATIC", L"", SS_LEFT, HistoryMinimumLabelId);
      maximumLabel_ = createChild(window_, L"STATIC", L"", SS_LEFT, HistoryMaximumLabelId);
      movesLabel_ = createChild(window_, L"STATIC", L"", SS_LEFT, HistoryMovesLabelId);
      saveButton_ = createChild(window_, L"BUTTON", L"Сохранить CSV...", WS_TABSTOP | BS_PUSHBUTTON,
                                HistorySaveButtonId);
      plot_ = createChild(window_, PlotClass, L"", 0, 0, this);
      for (HWND control : {minimumLabel_, maximumLabel_, movesLabel_, saveButton_}) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(textFont_), FALSE);
      }
      refresh();
      SetTimer(window_, RefreshTimer, RefreshMs, nullptr);
      return 0;
    case WM_SIZE:
      placeControls();
      return 0;
    case WM_GETMINMAXINFO: {
      auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
      const SIZE smallest =
          windowSizeForClient(Style, 0, MinimumClientWidth, MinimumClientHeight, dpi_);
      limits->ptMinTrackSize = {smallest.cx, smallest.cy};
      return 0;
    }
    case WM_TIMER:
      if (wParam == RefreshTimer) refresh();
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == HistorySaveButtonId && HIWORD(wParam) == BN_CLICKED) onSaveClicked();
      return 0;
    case WM_DPICHANGED: {
      dpi_ = HIWORD(wParam);
      deleteFonts();
      createFonts();
      for (HWND control : {minimumLabel_, maximumLabel_, movesLabel_, saveButton_}) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(textFont_), TRUE);
      }
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(window_, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_DESTROY:
      KillTimer(window_, RefreshTimer);
      return 0;
    case WM_NCDESTROY: {
      HWND window = std::exchange(window_, nullptr);
      deleteFonts();
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      return DefWindowProcW(window, message, wParam, lParam);
    }
    default:
      return DefWindowProcW(window_, message, wParam, lParam);
  }
}

void HistoryWindow::createFonts() {
  textFont_ = createDesignedFont(DialogFace, 13, false, dpi_, RUSSIAN_CHARSET);
  plotFont_ = createDesignedFont(DialogFace, 11, false, dpi_, RUSSIAN_CHARSET);
}

void HistoryWindow::deleteFonts() {
  for (HFONT* font : {&textFont_, &plotFont_}) {
    if (*font) DeleteObject(*font);
    *font = nullptr;
  }
}

void HistoryWindow::placeControls() {
  RECT client;
  GetClientRect(window_, &client);
  const auto s = [this](int pixels) { return scaled(pixels, dpi_); };
  const int textTop = s(Margin + 4);
  const int textHeight = s(18);
  MoveWindow(minimumLabel_, s(Margin), textTop, s(150), textHeight, TRUE);
  MoveWindow(maximumLabel_, s(Margin + 160), textTop, s(150), textHeight, TRUE);
  MoveWindow(movesLabel_, s(Margin + 320), textTop, s(110), textHeight, TRUE);
  const int buttonWidth = s(130);
  MoveWindow(saveButton_, std::max<int>(client.right - s(Margin) - buttonWidth, s(Margin + 440)),
             s(Margin), buttonWidth, s(25), TRUE);
  MoveWindow(plot_, s(Margin), s(TopRowHeight), std::max<int>(client.right - 2 * s(Margin), 0),
             std::max<int>(client.bottom - s(TopRowHeight) - s(Margin), 0), TRUE);
}

void HistoryWindow::refresh() {
  series_ = history_.Series(key_);
  summary_ = history_.Summary(key_);
  SetWindowTextW(
      minimumLabel_,
      widen("Минимум: " + kiloOhmsText(summary_ ? summary_->minimum : std::nullopt)).c_str());
  SetWindowTextW(
      maximumLabel_,
      widen("Максимум: " + kiloOhmsText(summary_ ? summary_->maximum : std::nullopt)).c_str());
  SetWindowTextW(movesLabel_,
                 (L"Переходов: " + std::to_wstring(summary_ ? summary_->moves : 0)).c_str());
  InvalidateRect(plot_, nullptr, FALSE);
}

LRESULT CALLBACK HistoryWindow::plotProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto* self = windowObject<HistoryWindow>(window, message, lParam);
  switch (message) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PRINTCLIENT: {
      RECT area;
      GetClientRect(window, &area);
      if (self) self->paintPlot(reinterpret_cast<HDC>(wParam), area);
      return 0;
    }
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      RECT area;
      GetClientRect(window, &area);
      if (self && area.right > 0 && area.bottom > 0) {
        // Drawn off screen and put on it in one piece.
        HDC buffer = CreateCompatibleDC(dc);
        HBITMAP bitmap = CreateCompatibleBitmap(dc, area.right, area.bottom);
        HGDIOBJ previous = SelectObject(buffer, bitmap);
        self->paintPlot(buffer, area);
        BitBlt(dc, 0, 0, area.right, area.bottom, buffer, 0, 0, SRCCOPY);
        SelectObject(buffer, previous);
        DeleteObject(bitmap);
        DeleteDC(buffer);
      }
      EndPaint(window, &paint);
      return 0;
    }
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

void HistoryWindow::paintPlot(HDC dc, const RECT& area) const {
  const auto s = [this](int pixels) { return scaled(pixels, dpi_); };
  FillRect(dc, &area, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SelectObject(dc, plotFont_);
  SetBkMode(dc, TRANSPARENT);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  const int lineHeight = metrics.tmHeight;

  // Axis labels at the left, the time below, the legend above.
  const RECT frame{s(58), lineHeight + s(10), area.right - s(12), area.bottom - lineHeight - s(8)};
  if (frame.right - frame.left < s(40) || frame.bottom - frame.top < s(30)) return;

  // Legend: a colour square and the state's name for each kind of mark.
  int legendX = frame.right;
  for (auto it = std::rbegin(MarkedConditions); it != std::rend(MarkedConditions); ++it) {
    const std::wstring name = widen(ConditionText(it->condition));
    SIZE size{};
    GetTextExtentPoint32W(dc, name.c_str(), static_cast<int>(name.size()), &size);
    legendX -= size.cx;
    SetTextColor(dc, RGB(0, 0, 0));
    TextOutW(dc, legendX, s(4), name.c_str(), static_cast<int>(name.size()));
    const int box = s(9);
    legendX -= box + s(4);
    const RECT square{legendX, s(4) + (lineHeight - box) / 2, legendX + box,
                      s(4) + (lineHeight - box) / 2 + box};
    HBRUSH brush = CreateSolidBrush(it->colour);
    FillRect(dc, &square, brush);
    DeleteObject(brush);
    legendX -= s(14);
  }

  HPEN gridPen = CreatePen(PS_SOLID, 1, GridColour);
  HPEN axisPen = CreatePen(PS_SOLID, 1, AxisColour);
  HGDIOBJ previousPen = SelectObject(dc, axisPen);
  SelectObject(dc, GetStockObject(NULL_BRUSH));
  Rectangle(dc, frame.left, frame.top, frame.right + 1, frame.bottom + 1);

  if (series_.empty()) {
    RECT message = frame;
    SetTextColor(dc, AxisColour);
    DrawTextW(dc, L"Нет показаний", -1, &message, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, previousPen);
    DeleteObject(gridPen);
    DeleteObject(axisPen);
    return;
  }

  // Time runs left to right over the whole run of readings.
  const auto first = series_.front().time;
  const double spanMs = std::max<double>(
      1000.0, std::chrono::duration<double, std::milli>(series_.back().time - first).count());
  const auto xOf = [&](WallTime time) {
    const double ms = std::chrono::duration<double, std::milli>(time - first).count();
    return frame.left + static_cast<int>(std::lround(ms / spanMs * (frame.right - frame.left)));
  };

  // The resistance scale: the readings' range with a little room around it.
  const std::optional<KiloOhmsRange> range = RangeOf(series_);
  const bool anyResistance = range.has_value();
  double low = range ? range->low : INFINITY;
  double high = range ? range->high : -INFINITY;
  if (anyResistance) {
    const double room = std::max((high - low) * 0.08, 0.5);
    low = std::max(0.0, low - room);
    high += room;
  }
  // The condition strip runs along the bottom; the line stays above it.
  const int stripHeight = s(6);
  const int lineBottom = frame.bottom - stripHeight - s(2);
  const auto yOf = [&](double kiloOhms) {
    return lineBottom - static_cast<int>(std::lround((kiloOhms - low) / (high - low) *
                                                     (lineBottom - frame.top - s(4))));
  };

  SetTextColor(dc, RGB(0, 0, 0));
  if (anyResistance) {
    SelectObject(dc, gridPen);
    for (int step = 0; step <= 4; ++step) {
      const double value = low + (high - low) * step / 4;
      const int y = yOf(value);
      if (step > 0) {
        MoveToEx(dc, frame.left + 1, y, nullptr);
        LineTo(dc, frame.right, y);
      }
      const std::wstring label = widen(FormatFixed(value, 1));
      RECT box{0, y - lineHeight / 2, frame.left - s(4), y + lineHeight / 2};
      DrawTextW(dc, label.c_str(), -1, &box, DT_RIGHT | DT_SINGLELINE | DT_NOCLIP);
    }
    TextOutW(dc, s(4), s(4), L"кОм", 3);
  }
  for (int step = 0; step <= 2; ++step) {
    const auto time = first + std::chrono::duration_cast<WallTime::duration>(
                                  std::chrono::duration<double, std::milli>(spanMs * step / 2));
    const std::wstring label = clockText(time);
    RECT box{xOf(time) - s(60), frame.bottom + s(3), xOf(time) + s(60),
             frame.bottom + s(3) + lineHeight};
    const UINT align = step == 0 ? DT_LEFT : step == 2 ? DT_RIGHT : DT_CENTER;
    if (step == 0) box.left = frame.left;
    if (step == 2) box.right = frame.right;
    DrawTextW(dc, label.c_str(), -1, &box, align | DT_SINGLELINE | DT_NOCLIP);
  }

  // How long the loop stayed in each state: the strip along the bottom.
  for (size_t i = 0; i < series_.size(); ++i) {
    const auto colour = historyConditionColour(series_[i].condition);
    if (!colour) continue;
    const int left = xOf(series_[i].time);
    const int right = i + 1 < series_.size() ? xOf(series_[i + 1].time) : frame.right;
    const RECT strip{left, frame.bottom - stripHeight, std::max(right, left + s(2)), frame.bottom};
    HBRUSH brush = CreateSolidBrush(*colour);
    FillRect(dc, &strip, brush);
    DeleteObject(brush);
  }

  // The moves into alarm, open and short: a line across the plot.
  for (const HistoryPoint& point : series_) {
    const auto colour = historyConditionColour(point.condition);
    if (!point.move || !colour) continue;
    HPEN pen = CreatePen(PS_SOLID, std::max(1, s(1)), *colour);
    SelectObject(dc, pen);
    const int x = xOf(point.time);
    MoveToEx(dc, x, frame.top + 1, nullptr);
    LineTo(dc, x, frame.bottom - stripHeight);
    SelectObject(dc, axisPen);
    DeleteObject(pen);
  }

  // The resistance: broken where a reading shows none.
  if (anyResistance) {
    HPEN linePen = CreatePen(PS_SOLID, std::max(1, s(2)), HistoryLineColour);
    SelectObject(dc, linePen);
    bool drawing = false;
    for (const HistoryPoint& point : series_) {
      const auto kiloOhms = point.KiloOhms();
      if (!kiloOhms) {
        drawing = false;
        continue;
      }
      const int x = xOf(point.time);
      const int y = yOf(*kiloOhms);
      if (drawing) {
        LineTo(dc, x, y);
      } else {
        MoveToEx(dc, x, y, nullptr);
        // A lone reading between gaps still shows as a dot.
        LineTo(dc, x + 1, y);
        drawing = true;
      }
    }
    SelectObject(dc, axisPen);
    DeleteObject(linePen);
  }

  SelectObject(dc, previousPen);
  DeleteObject(gridPen);
  DeleteObject(axisPen);
}

void HistoryWindow::onSaveClicked() {
  const std::wstring suggested =
      L"шлейф-" + std::to_wstring(key_.loop) + L"-адрес-" + std::to_wstring(key_.address) + L".csv";
  const SavePathHook& hook = currentSavePathHook();
  const std::optional<std::wstring> path = hook ? hook(suggested) : askSavePath(window_, suggested);
  if (!path) return;
  std::ostringstream csv;
  history_.WriteCsv(csv, key_);
  try {
    writeFileWhole(*path, csv.str());
  } catch (const std::exception& error) {
    showMessageBox(window_, "Не удалось сохранить файл " + narrow(*path) + ":\n" + error.what(),
                   applicationTitle(), MB_ICONERROR);
  }
}

}  // namespace loopmon::win32
