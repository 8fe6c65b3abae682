#include "gui/qt/survey_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>

#include "desktop/survey_form.h"
#include "desktop/texts.h"
#include "gui/qt/form_widgets.h"
#include "gui/qt/message_box.h"
#include "gui/qt/site_history_window.h"

namespace loopmon::qt {

using namespace survey_form;

SurveyWindow::SurveyWindow(BusRunner& bus, const CoefficientsStore& store,
                           std::function<void(uint8_t address, int loop)> choose, QWidget* parent)
    : QWidget(parent, Qt::Window), model_(*this, bus, store), choose_(std::move(choose)) {
  form_ = new FormWidgets(*this, Form);
  const auto forward = [this](void (SurveyWindowModel::*input)()) {
    return [this, input] { runHandler(this, [&] { (model_.*input)(); }); };
  };
  connect(form_->get<QPushButton>(SurveyButton), &QPushButton::clicked, this,
          forward(&SurveyWindowModel::surveyClicked));
  connect(form_->get<QPushButton>(SaveButton), &QPushButton::clicked, this,
          forward(&SurveyWindowModel::saveClicked));
  connect(form_->get<QPushButton>(CompareButton), &QPushButton::clicked, this,
          forward(&SurveyWindowModel::compareClicked));
  connect(form_->get<QPushButton>(SiteHistoryButton), &QPushButton::clicked, this,
          &SurveyWindow::openSiteHistory);
  connect(form_->get<QLineEdit>(SiteField), &QLineEdit::textChanged, this,
          [this](const QString& text) { model_.siteChanged(text.toStdString()); });
  // A click, the arrow keys or Enter: the line that becomes current is chosen.
  const auto choosing = [this](int list, void (SurveyWindowModel::*chosen)(int)) {
    auto* lines = form_->get<QListWidget>(list);
    connect(lines, &QListWidget::currentRowChanged, this,
            [this, chosen](int row) { runHandler(this, [&] { (model_.*chosen)(row); }); });
    connect(lines, &QListWidget::itemActivated, this, [this, lines, chosen] {
      runHandler(this, [&] { (model_.*chosen)(lines->currentRow()); });
    });
  };
  choosing(DevicesList, &SurveyWindowModel::deviceChosen);
  choosing(ChangesList, &SurveyWindowModel::changeChosen);
}

void SurveyWindow::openSiteHistory() {
  if (siteHistory_ == nullptr) siteHistory_ = new SiteHistoryWindow(this);
  siteHistory_->chooseFolder = chooseSiteFolder;
  siteHistory_->openBeside(*this);
}

void SurveyWindow::closeEvent(QCloseEvent* event) {
  runHandler(this, [this] { model_.closed(); });
  event->accept();
}

void SurveyWindow::showSurveyButton(const std::string& text, bool enabled) {
  auto* button = form_->get<QPushButton>(SurveyButton);
  button->setText(qtext(text));
  button->setEnabled(enabled);
}

void SurveyWindow::showRecordControls(bool enabled) {
  form_->widget(SaveButton)->setEnabled(enabled);
  form_->widget(CompareButton)->setEnabled(enabled);
}

void SurveyWindow::showProgress(const std::string& text, int steps) {
  form_->get<QLabel>(ProgressLabel)->setText(qtext(text));
  form_->get<QProgressBar>(ProgressBar)->setValue(steps);
}

void SurveyWindow::showLines(int list, const std::vector<std::string>& lines) {
  auto* shown = form_->get<QListWidget>(list);
  const QSignalBlocker quiet(shown);
  shown->clear();
  for (const std::string& line : lines) shown->addItem(qtext(line));
}

void SurveyWindow::showDevices(const std::vector<std::string>& lines) {
  showLines(DevicesList, lines);
}

void SurveyWindow::showChanges(const std::vector<std::string>& lines) {
  showLines(ChangesList, lines);
}

std::optional<std::string> SurveyWindow::askSavePath(const std::string& suggested) {
  if (chooseSavePath) return chooseSavePath().toStdString();
  return askSaveFile(this, texts::SaveRecordTitle, suggested, texts::RecordFiles, "json");
}

std::optional<std::string> SurveyWindow::askRecordPath() {
  if (chooseRecordPath) return chooseRecordPath().toStdString();
  return askOpenFile(this, texts::OpenRecordTitle, texts::RecordFiles, "json");
}

void SurveyWindow::showMessage(const std::string& text) {
  showMessageBox(this, qtext(text), applicationTitle(), QMessageBox::Critical);
}

void SurveyWindow::chooseLoop(uint8_t address, int loop) {
  if (choose_) choose_(address, loop);
}

}  // namespace loopmon::qt
