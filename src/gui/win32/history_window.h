#pragma once
// One loop's history in a window of its own: the resistance over time as a
// line with the moves into alarm, open and short marked, the extremes and the
// number of moves, and the history saved as CSV. It follows the history on a
// 1 s timer while open.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "loops/loop_history.h"
#include "platform/text_win32.h"

namespace loopmon::win32 {

// The texts "Минимум", "Максимум", "Переходов" and the button "Сохранить CSV...".
inline constexpr int HistoryMinimumLabelId = 301;
inline constexpr int HistoryMaximumLabelId = 302;
inline constexpr int HistoryMovesLabelId = 303;
inline constexpr int HistorySaveButtonId = 304;

// The resistance line, and the marks of the moves into alarm, open and short
// (nothing for the normal state): a row mark elsewhere can use the same colours.
inline constexpr COLORREF HistoryLineColour = RGB(0, 70, 160);
std::optional<COLORREF> historyConditionColour(LoopCondition condition);

// Asks where to save a history, offering `suggested` as the file name;
// nothing when the user cancels.
using SavePathHook = std::function<std::optional<std::wstring>(const std::wstring& suggested)>;
// While a hook is set it answers instead of the file dialog; an empty hook
// brings the dialog back. Returns the hook it replaced.
SavePathHook setSavePathHook(SavePathHook hook);

// One window per loop history view.
class HistoryWindow {
 public:
  // `history` outlives the window; `key` the loop to show; refreshes itself on a timer while open.
  HistoryWindow(const LoopHistory& history, LoopKey key);
  ~HistoryWindow();
  HistoryWindow(const HistoryWindow&) = delete;
  HistoryWindow& operator=(const HistoryWindow&) = delete;

  // Created on the first show and again after the user closed it.
  void show(HWND owner);
  // Null while closed.
  HWND window() const { return window_; }

 private:
  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK plotProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  void create(HWND owner);
  void createFonts();
  void deleteFonts();
  void placeControls();
  void refresh();
  void paintPlot(HDC dc, const RECT& area) const;
  void onSaveClicked();

  const LoopHistory& history_;
  LoopKey key_;
  HWND window_ = nullptr;
  HWND plot_ = nullptr;
  HWND minimumLabel_ = nullptr;
  HWND maximumLabel_ = nullptr;
  HWND movesLabel_ = nullptr;
  HWND saveButton_ = nullptr;
  HFONT textFont_ = nullptr;
  HFONT plotFont_ = nullptr;
  UINT dpi_ = 96;
  std::vector<HistoryPoint> series_;
  std::optional<LoopSummary> summary_;
};

}  // namespace loopmon::win32
