#include "gui/win32/history_window.h"

#include "desktop/texts.h"
#include "gui/win32/message_box.h"
#include "gui/win32/plot.h"

namespace loopmon::win32 {

namespace {

using namespace history_form;

constexpr UINT_PTR RefreshTimerId = 1;

}  // namespace

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
  showBeside(owner_);
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
  return askSaveFile(hwnd(), texts::SaveHistoryTitle, suggested, texts::CsvFiles, L"*.csv", L"csv");
}

void HistoryWindow::showMessage(const std::string& text) {
  showMessageBox(hwnd(), text, texts::ApplicationTitle, MB_ICONERROR);
}

}  // namespace loopmon::win32
