#include "gui/qt/site_history_window.h"

#include <QLabel>
#include <QListWidget>

#include "desktop/site_history_form.h"
#include "desktop/texts.h"
#include "gui/qt/form_widgets.h"
#include "gui/qt/message_box.h"
#include "gui/qt/plot.h"

namespace loopmon::qt {

using namespace site_history_form;

SiteHistoryWindow::SiteHistoryWindow(QWidget* parent) : QWidget(parent, Qt::Window), model_(*this) {
  form_ = new FormWidgets(*this, Form);
  setWindowTitle(qtext(model_.title()));
  form_->get<Plot>(ResistancePlot)
      ->setSource([this](Size area, int dpi, const TextMeasure& measure) {
        return model_.plot(area, dpi, measure);
      });
  auto* loops = form_->get<QListWidget>(LoopsList);
  connect(loops, &QListWidget::currentRowChanged, this,
          [this](int row) { runHandler(this, [&] { model_.loopChosen(row); }); });
}

void SiteHistoryWindow::openBeside(const QWidget& anchor) {
  bool opened = false;
  runHandler(this, [&] { opened = model_.open(); });
  if (!opened) return;
  setWindowTitle(qtext(model_.title()));
  showBeside(*this, anchor);
}

std::optional<std::string> SiteHistoryWindow::askFolder() {
  if (chooseFolder) return chooseFolder().toStdString();
  return askFolderPath(this, texts::ChooseRecordsFolder, "json");
}

void SiteHistoryWindow::showLoops(const std::string& status, const std::vector<std::string>& loops,
                                  const std::vector<std::string>& skipped) {
  form_->get<QLabel>(StatusLabel)->setText(qtext(status));
  const auto fill = [this](int list, const std::vector<std::string>& lines) {
    auto* shown = form_->get<QListWidget>(list);
    const QSignalBlocker quiet(shown);
    shown->clear();
    for (const std::string& line : lines) shown->addItem(qtext(line));
  };
  fill(LoopsList, loops);
  fill(SkippedList, skipped);
  // The first loop is drawn at once; the list says which.
  if (!loops.empty()) {
    const QSignalBlocker quiet(form_->widget(LoopsList));
    form_->get<QListWidget>(LoopsList)->setCurrentRow(0);
  }
}

void SiteHistoryWindow::showPlot() {
  form_->widget(ResistancePlot)->update();
}

void SiteHistoryWindow::showMessage(const std::string& text) {
  showMessageBox(this, qtext(text), applicationTitle(), QMessageBox::Critical);
}

}  // namespace loopmon::qt
