#include "gui/win32/site_history_window.h"

#include "desktop/texts.h"
#include "gui/win32/message_box.h"
#include "gui/win32/plot.h"

namespace loopmon::win32 {

using namespace site_history_form;

SiteHistoryWindow::SiteHistoryWindow(HWND owner)
    : FormWindow(site_history_form::Form), owner_(owner), model_(*this) {
  create(owner);
  setWindowText(hwnd(), model_.title());
  custom<Plot>(ResistancePlot).setSource([this](Size area, int dpi, const TextMeasure& measure) {
    return model_.plot(area, dpi, measure);
  });
}

void SiteHistoryWindow::open() {
  bool opened = false;
  runHandler(owner_, [&] { opened = model_.open(); });
  if (!opened) return;
  setWindowText(hwnd(), model_.title());
  showBeside(owner_);
}

void SiteHistoryWindow::onClose() {
  ShowWindow(hwnd(), SW_HIDE);
}

void SiteHistoryWindow::onCommand(int id, int code) {
  if (id == LoopsList && code == LBN_SELCHANGE) {
    const auto line = static_cast<int>(SendMessageW(control(LoopsList), LB_GETCURSEL, 0, 0));
    runHandler(hwnd(), [&] { model_.loopChosen(line); });
  }
}

std::optional<std::string> SiteHistoryWindow::askFolder() {
  return askFolderPath(owner_, texts::ChooseRecordsFolder);
}

void SiteHistoryWindow::showLoops(const std::string& status, const std::vector<std::string>& loops,
                                  const std::vector<std::string>& skipped) {
  setWindowText(control(StatusLabel), status);
  for (const auto& [list, lines] :
       {std::pair(LoopsList, &loops), std::pair(SkippedList, &skipped)}) {
    HWND shown = control(list);
    SendMessageW(shown, LB_RESETCONTENT, 0, 0);
    for (const std::string& line : *lines) {
      SendMessageW(shown, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(line).c_str()));
    }
  }
  // The first loop is drawn at once; the list says which.
  if (!loops.empty()) SendMessageW(control(LoopsList), LB_SETCURSEL, 0, 0);
}

void SiteHistoryWindow::showPlot() {
  InvalidateRect(control(ResistancePlot), nullptr, FALSE);
}

void SiteHistoryWindow::showMessage(const std::string& text) {
  showMessageBox(owner_, text, texts::ApplicationTitle, MB_ICONERROR);
}

}  // namespace loopmon::win32
