#include "gui/qt/traffic_window.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include "desktop/texts.h"
#include "desktop/traffic_form.h"
#include "gui/qt/form_widgets.h"
#include "gui/qt/message_box.h"

namespace loopmon::qt {

using namespace traffic_form;

TrafficWindow::TrafficWindow(BusTrace& trace, QWidget* parent)
    : QWidget(parent, Qt::Window), model_(*this, trace) {
  form_ = new FormWidgets(*this, Form);
  setAttribute(Qt::WA_DeleteOnClose);
  connect(form_->get<QLineEdit>(FilterField), &QLineEdit::textChanged, this,
          [this](const QString& text) { model_.filterChanged(text.toStdString()); });
  connect(form_->get<QPushButton>(PauseButton), &QPushButton::clicked, this,
          [this] { model_.pauseClicked(); });
  connect(form_->get<QPushButton>(ClearButton), &QPushButton::clicked, this,
          [this] { model_.clearClicked(); });
  connect(form_->get<QPushButton>(SaveButton), &QPushButton::clicked, this,
          [this] { runHandler(this, [this] { model_.saveClicked(); }); });
  connect(form_->get<QPushButton>(SaveCaptureButton), &QPushButton::clicked, this,
          [this] { runHandler(this, [this] { model_.saveCaptureClicked(); }); });
  // The counters are read, never chosen.
  list(CountersList)->setSelectionMode(QAbstractItemView::NoSelection);
  list(CountersList)->setFocusPolicy(Qt::NoFocus);
  refreshTimer_ = new QTimer(this);
  connect(refreshTimer_, &QTimer::timeout, this, [this] { model_.refresh(); });
  refreshTimer_->start(TrafficWindowModel::RefreshMs);
  model_.opened();
}

void TrafficWindow::closeEvent(QCloseEvent* event) {
  refreshTimer_->stop();
  model_.closed();
  event->accept();
}

QListWidget* TrafficWindow::list(int id) const {
  return form_->get<QListWidget>(id);
}

void TrafficWindow::showLinesMoved(int removedFirst, const std::vector<std::string>& added) {
  QListWidget* trace = list(TraceList);
  QScrollBar* bar = trace->verticalScrollBar();
  // Scrolled up, the user reads: the list stays where it is.
  const bool following = bar->value() == bar->maximum();
  for (int i = 0; i < removedFirst; ++i) delete trace->takeItem(0);
  for (const std::string& line : added) trace->addItem(qtext(line));
  if (following) trace->scrollToBottom();
}

void TrafficWindow::showLines(const std::vector<std::string>& lines) {
  list(TraceList)->clear();
  showLinesMoved(0, lines);
}

void TrafficWindow::showCounters(const std::vector<std::string>& lines) {
  QListWidget* counters = list(CountersList);
  counters->clear();
  for (const std::string& line : lines) counters->addItem(qtext(line));
}

void TrafficWindow::showPauseButton(const std::string& text) {
  form_->get<QPushButton>(PauseButton)->setText(qtext(text));
}

std::optional<std::string> TrafficWindow::askSavePath(const std::string& suggested) {
  if (chooseTextPath) return chooseTextPath().toStdString();
  return askSaveFile(this, texts::SaveTrafficTitle, suggested, texts::TextFiles, "txt");
}

std::optional<std::string> TrafficWindow::askCapturePath(const std::string& suggested) {
  if (chooseCapturePath) return chooseCapturePath().toStdString();
  return askSaveFile(this, texts::SaveCaptureTitle, suggested, texts::CaptureFiles, "pcapng");
}

void TrafficWindow::showMessage(const std::string& text) {
  showMessageBox(this, qtext(text), applicationTitle(), QMessageBox::Critical);
}

}  // namespace loopmon::qt
