#include "gui/win32/survey_window.h"

#include <commctrl.h>

#include "desktop/texts.h"
#include "gui/win32/message_box.h"
#include "gui/win32/site_history_window.h"

namespace loopmon::win32 {

using namespace survey_form;

SurveyWindow::SurveyWindow(HWND owner, BusRunner& bus, const CoefficientsStore& store,
                           std::function<void(uint8_t address, int loop)> choose)
    : FormWindow(survey_form::Form),
      owner_(owner),
      model_(*this, bus, store),
      choose_(std::move(choose)) {
  create(owner);
}

SurveyWindow::~SurveyWindow() = default;

void SurveyWindow::open() {
  showBeside(owner_);
}

void SurveyWindow::onClose() {
  runHandler(hwnd(), [this] { model_.closed(); });
  ShowWindow(hwnd(), SW_HIDE);
}

void SurveyWindow::onCommand(int id, int code) {
  if (id == SiteField && code == EN_CHANGE) {
    model_.siteChanged(windowText(control(SiteField)));
  } else if ((id == DevicesList || id == ChangesList) && code == LBN_SELCHANGE) {
    const auto line = static_cast<int>(SendMessageW(control(id), LB_GETCURSEL, 0, 0));
    runHandler(hwnd(), [&] {
      if (id == DevicesList) model_.deviceChosen(line);
      if (id == ChangesList) model_.changeChosen(line);
    });
  } else if (code == BN_CLICKED) {
    runHandler(hwnd(), [&] {
      if (id == SurveyButton) model_.surveyClicked();
      if (id == SaveButton) model_.saveClicked();
      if (id == CompareButton) model_.compareClicked();
      if (id == SiteHistoryButton) {
        if (!siteHistory_) siteHistory_ = std::make_unique<SiteHistoryWindow>(hwnd());
        siteHistory_->open();
      }
    });
  }
}

void SurveyWindow::showSurveyButton(const std::string& text, bool enabled) {
  setWindowText(control(SurveyButton), text);
  enable(SurveyButton, enabled);
}

void SurveyWindow::showRecordControls(bool enabled) {
  enable(SaveButton, enabled);
  enable(CompareButton, enabled);
}

void SurveyWindow::showProgress(const std::string& text, int steps) {
  setWindowText(control(ProgressLabel), text);
  SendMessageW(control(ProgressBar), PBM_SETPOS, static_cast<WPARAM>(steps), 0);
}

void SurveyWindow::showLines(int list, const std::vector<std::string>& lines) {
  HWND shown = control(list);
  SendMessageW(shown, LB_RESETCONTENT, 0, 0);
  for (const std::string& line : lines) {
    SendMessageW(shown, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(line).c_str()));
  }
}

void SurveyWindow::showDevices(const std::vector<std::string>& lines) {
  showLines(DevicesList, lines);
}

void SurveyWindow::showChanges(const std::vector<std::string>& lines) {
  showLines(ChangesList, lines);
}

std::optional<std::string> SurveyWindow::askSavePath(const std::string& suggested) {
  return askSaveFile(hwnd(), texts::SaveRecordTitle, suggested, texts::RecordFiles, L"*.json",
                     L"json");
}

std::optional<std::string> SurveyWindow::askRecordPath() {
  return askOpenFile(hwnd(), texts::OpenRecordTitle, texts::RecordFiles, L"*.json", L"json");
}

void SurveyWindow::showMessage(const std::string& text) {
  showMessageBox(hwnd(), text, texts::ApplicationTitle, MB_ICONERROR);
}

void SurveyWindow::chooseLoop(uint8_t address, int loop) {
  if (choose_) choose_(address, loop);
}

}  // namespace loopmon::win32
