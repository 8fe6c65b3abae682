#include "gui/win32/history_window.h"

#include <commdlg.h>

#include <algorithm>
#include <utility>

#include "desktop/texts.h"
#include "gui/win32/message_box.h"
#include "gui/win32/plot.h"

namespace loopmon::win32 {

namespace {

using namespace history_form;

constexpr UINT_PTR RefreshTimerId = 1;

SavePathHook& currentSavePathHook() {
  static SavePathHook hook;
  return hook;
}

// A list of "text\0pattern\0" pairs ending in an empty one, as the file dialog takes it.
std::wstring fileFilter() {
  std::wstring filter;
  for (const auto& [text, pattern] :
       {std::pair(texts::CsvFiles, L"*.csv"), std::pair(texts::AllFiles, L"*.*")}) {
    filter += widen(text) + L'\0' + pattern + L'\0';
  }
  return filter + L'\0';
}

}  // namespace

SavePathHook setSavePathHook(SavePathHook hook) {
  return std::exchange(currentSavePathHook(), std::move(hook));
}

HistoryWindow::HistoryWindow(HWND owner, const LoopHistory& history, LoopKey key)
    : FormWindow(history_form::Form), owner_(owner), model_(*this, history, key) {
  create(owner);
  setWindowText(hwnd(), model_.title());
  custom<Plot>(ResistancePlot).setSource([this](Size area, int dpi, const TextMeasure& measure) {
    return model_.plot(area, dpi, measure);
  });
}

void HistoryWindow::open() {
  model_.refresh();
  SetTimer(hwnd(), RefreshTimerId, HistoryWindowModel::RefreshMs, nullptr);
  show(owner_);
}

void HistoryWindow::onTimer(UINT_PTR id) {
  if (id == RefreshTimerId) model_.refresh();
}

void HistoryWindow::onClose() {
  KillTimer(hwnd(), RefreshTimerId);
  ShowWindow(hwnd(), SW_HIDE);
}

void HistoryWindow::onCommand(int id, int code) {
  if (id == SaveButton && code == BN_CLICKED) {
    runHandler(hwnd(), [this] { model_.saveClicked(); });
  }
}

void HistoryWindow::showFigures(const std::string& minimum, const std::string& maximum,
                                const std::string& moves) {
  setWindowText(control(MinimumLabel), minimum);
  setWindowText(control(MaximumLabel), maximum);
  setWindowText(control(MovesLabel), moves);
}

void HistoryWindow::showPlot() {
  InvalidateRect(control(ResistancePlot), nullptr, FALSE);
}

std::optional<std::string> HistoryWindow::askSavePath(const std::string& suggested) {
  if (const SavePathHook& hook = currentSavePathHook()) return hook(suggested);
  std::wstring path(32768, L'\0');
  const std::wstring name = widen(suggested);
  std::copy(name.begin(), name.end(), path.begin());
  const std::wstring filter = fileFilter();
  const std::wstring title = widen(texts::SaveHistoryTitle);
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = hwnd();
  dialog.lpstrFilter = filter.c_str();
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = static_cast<DWORD>(path.size());
  dialog.lpstrTitle = title.c_str();
  dialog.lpstrDefExt = L"csv";
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
  if (!GetSaveFileNameW(&dialog)) return std::nullopt;
  return narrow(path.c_str(), wcslen(path.c_str()));
}

void HistoryWindow::showMessage(const std::string& text) {
  showMessageBox(hwnd(), text, texts::ApplicationTitle, MB_ICONERROR);
}

}  // namespace loopmon::win32
