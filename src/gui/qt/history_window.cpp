#include "gui/qt/history_window.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "desktop/history_form.h"
#include "desktop/texts.h"
#include "gui/qt/form_widgets.h"
#include "gui/qt/message_box.h"
#include "gui/qt/plot.h"

namespace loopmon::qt {

using namespace history_form;

HistoryWindow::HistoryWindow(const LoopHistory& history, LoopKey key, QWidget* parent)
    : QWidget(parent, Qt::Window), model_(*this, history, key) {
  form_ = new FormWidgets(*this, Form);
  setWindowTitle(qtext(model_.title()));
  setAttribute(Qt::WA_DeleteOnClose);
  form_->get<Plot>(ResistancePlot)
      ->setSource([this](Size area, int dpi, const TextMeasure& measure) {
        return model_.plot(area, dpi, measure);
      });
  connect(form_->get<QPushButton>(SaveButton), &QPushButton::clicked, this,
          [this] { runHandler(this, [this] { model_.saveClicked(); }); });
  refreshTimer_ = new QTimer(this);
  connect(refreshTimer_, &QTimer::timeout, this, [this] { model_.refresh(); });
  refreshTimer_->start(HistoryWindowModel::RefreshMs);
  model_.refresh();
}

void HistoryWindow::showFigures(const std::string& minimum, const std::string& maximum,
                                const std::string& moves) {
  form_->get<QLabel>(MinimumLabel)->setText(qtext(minimum));
  form_->get<QLabel>(MaximumLabel)->setText(qtext(maximum));
  form_->get<QLabel>(MovesLabel)->setText(qtext(moves));
}

void HistoryWindow::showPlot() {
  form_->widget(ResistancePlot)->update();
}

std::optional<std::string> HistoryWindow::askSavePath(const std::string& suggested) {
  if (chooseCsvPath) return chooseCsvPath().toStdString();
  // The toolkit's own dialog, so that its words are the window's.
  return askSaveFile(this, texts::SaveHistoryTitle, suggested, texts::CsvFiles, "csv");
}

void HistoryWindow::showMessage(const std::string& text) {
  showMessageBox(this, qtext(text), applicationTitle(), QMessageBox::Critical);
}

}  // namespace loopmon::qt
