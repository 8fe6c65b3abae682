#include "gui/qt/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>

#include "desktop/main_form.h"
#include "gui/qt/form_widgets.h"
#include "gui/qt/history_window.h"
#include "gui/qt/icons.h"
#include "gui/qt/loop_table.h"
#include "gui/qt/message_box.h"
#include "gui/qt/password_dialog.h"
#include "gui/qt/qt_dispatcher.h"
#include "gui/qt/search_dialog.h"
#include "gui/qt/survey_window.h"
#include "gui/qt/toggle_panel.h"
#include "gui/qt/traffic_window.h"
#include "session/session.h"

namespace loopmon::qt {

using namespace main_form;

MainWindow::MainWindow(Platform platform, Desktop::Files files)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                           (Form.minimizable ? Qt::WindowMinimizeButtonHint : Qt::WindowFlags())) {
  // Every follow-up of an exchange runs on this window's thread, under the
  // general error handler.
  desktop_ = std::make_unique<Desktop>(
      std::move(platform), std::move(files), std::make_shared<QtOwnerDispatcher>(),
      [this](std::function<void()> call) {
        QMetaObject::invokeMethod(
            this, [this, call = std::move(call)] { runHandler(this, call); }, Qt::QueuedConnection);
      });
  setFileFolders(&desktop_->folders());
  form_ = new FormWidgets(*this, Form);
  setWindowIcon(iconFor(ButtonIcon::Read));
  setAttribute(Qt::WA_AlwaysShowToolTips);
  searchDialog_ = std::make_unique<SearchDialog>(&desktop_->bus(), desktop_->files().portSettings,
                                                 desktop_->portChoices());
  tickTimer_ = new QTimer(this);
  tickTimer_->setSingleShot(true);
  connect(tickTimer_, &QTimer::timeout, this,
          [this] { runHandler(this, [this] { model_->timerFired(); }); });
  connectControls();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  model_ = std::make_unique<MainWindowModel>(static_cast<MainWindowView&>(*this), desktop_->bus(),
                                             desktop_->store());
  table()->setGrid(&model_->grid());
}

MainWindow::~MainWindow() {
  setFileFolders(nullptr);
  // The bus thread ends before the models its follow-ups would reach.
  tickTimer_->stop();
  desktop_->stopBus();
  // The history windows show the model's history.
  for (auto& entry : historyWindows_) delete entry.second.data();
  // The traffic window reads the session's trace.
  delete trafficWindow_.data();
  delete surveyWindow_;
}

LoopTable* MainWindow::table() const {
  return form_->get<qt::LoopTable>(main_form::LoopTable);
}

void MainWindow::connectControls() {
  auto forward = [this](auto input) {
    return [this, input] { runHandler(this, [&] { input(*model_); }); };
  };
  connect(form_->get<QToolButton>(SearchButton), &QToolButton::clicked, this,
          forward([](MainWindowModel& m) { m.searchClicked(); }));
  connect(form_->get<QPushButton>(ReadButton), &QPushButton::clicked, this,
          forward([](MainWindowModel& m) { m.readClicked(); }));
  connect(form_->get<TogglePanel>(AdcViewToggle), &TogglePanel::clicked, this,
          forward([](MainWindowModel& m) { m.adcViewClicked(); }));
  connect(form_->get<TogglePanel>(StateViewToggle), &TogglePanel::clicked, this,
          forward([](MainWindowModel& m) { m.stateViewClicked(); }));
  connect(form_->get<QToolButton>(ToolsButton), &QToolButton::clicked, this,
          forward([](MainWindowModel& m) { m.toolsClicked(); }));
  connect(form_->get<QToolButton>(PeriodicButton), &QToolButton::clicked, this,
          [this](bool down) { runHandler(this, [&] { model_->periodicClicked(down); }); });
  auto* period = form_->get<QSpinBox>(PeriodField);
  connect(period, &QSpinBox::valueChanged, this, [this](int value) {
    if (model_) runHandler(this, [&] { model_->periodChanged(value); });
  });
  connect(period, &QSpinBox::editingFinished, this,
          forward([](MainWindowModel& m) { m.periodFieldLeft(); }));
  form_->acceptsChar = [](int id, QChar key) {
    return id != PeriodField || MainWindowModel::periodKeyAccepted(key.unicode());
  };
  form_->widget(DeviceLabel)->installEventFilter(this);

  LoopTable* loops = table();
  loops->onMouseDown = [this, loops](Qt::MouseButton button, QPoint point) {
    const GridCell cell = loops->cellAt(point);
    runHandler(this,
               [&] { model_->tablePressed(cell.column, cell.row, button == Qt::LeftButton); });
  };
  loops->onMouseMove = [this, loops](Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers,
                                     QPoint point) {
    const GridCell cell = loops->cellAt(point);
    const bool onlyLeft = buttons == Qt::LeftButton && modifiers == Qt::NoModifier;
    runHandler(this, [&] { model_->tableDragged(cell.column, cell.row, onlyLeft); });
  };
  loops->onMouseUp = [this, loops](Qt::MouseButton button, QPoint point) {
    const int row = loops->cellAt(point).row;
    runHandler(this, [&] { model_->tableReleased(row, button == Qt::LeftButton); });
  };
  loops->onContextMenu = [this](QPoint point, QPoint globalPoint) {
    showLoopMenu(point, globalPoint);
  };
  loopMenu_ = new QMenu(this);
  loopMenu_->setObjectName(QStringLiteral("loopMenu"));
  historyAction_ = loopMenu_->addAction(QString::fromUtf8(texts::LoopHistoryItem));
  historyAction_->setObjectName(QStringLiteral("historyAction"));
  connect(historyAction_, &QAction::triggered, this,
          [this] { runHandler(this, [this] { model_->historyClicked(menuRow_); }); });
  trafficAction_ = loopMenu_->addAction(QString::fromUtf8(texts::TrafficItem));
  trafficAction_->setObjectName(QStringLiteral("trafficAction"));
  connect(trafficAction_, &QAction::triggered, this, &MainWindow::showTraffic);
  surveyAction_ = loopMenu_->addAction(QString::fromUtf8(texts::SurveyItem));
  surveyAction_->setObjectName(QStringLiteral("surveyAction"));
  connect(surveyAction_, &QAction::triggered, this, &MainWindow::showSurvey);
}

void MainWindow::showSurvey() {
  if (surveyWindow_ == nullptr) {
    surveyWindow_ = new SurveyWindow(
        desktop_->bus(), desktop_->store(),
        [this](uint8_t address, int loop) {
          runHandler(this, [&] { model_->loopChosen(address, loop); });
        },
        this);
  }
  showBeside(*surveyWindow_, *this);
}

void MainWindow::showTraffic() {
  if (trafficWindow_.isNull())
    trafficWindow_ = new TrafficWindow(desktop_->session().Trace(), this);
  showBeside(*trafficWindow_, *this);
}

void MainWindow::showLoopMenu(QPoint point, QPoint globalPoint) {
  const int row = table()->cellAt(point).row;
  // The traffic is offered anywhere on the table, a loop's history on its row.
  menuRow_ = row;
  historyAction_->setEnabled(row > 0 && model_->historyKey(row).has_value());
  loopMenu_->popup(globalPoint);
}

void MainWindow::showCaption(const std::string& caption) {
  setWindowTitle(qtext(caption));
}

void MainWindow::showDeviceLabel(const std::string& text) {
  form_->get<QLabel>(DeviceLabel)->setText(qtext(text));
  form_->layOut();
}

void MainWindow::showReadControls(bool readEnabled, bool periodicEnabled, bool periodEnabled) {
  form_->widget(ReadButton)->setEnabled(readEnabled);
  form_->widget(PeriodicButton)->setEnabled(periodicEnabled);
  form_->widget(PeriodField)->setEnabled(periodEnabled);
}

void MainWindow::showPeriodicDown(bool down) {
  form_->get<QToolButton>(PeriodicButton)->setChecked(down);
}

void MainWindow::showPeriod(int seconds) {
  form_->get<QSpinBox>(PeriodField)->setValue(seconds);
}

void MainWindow::showView(bool adcView) {
  form_->get<TogglePanel>(AdcViewToggle)->setLowered(adcView);
  form_->get<TogglePanel>(StateViewToggle)->setLowered(!adcView);
}

void MainWindow::showGrid() {
  table()->gridChanged();
}

void MainWindow::showGridCell(int column, int row) {
  table()->cellChanged(column, row);
}

void MainWindow::showHistory(LoopKey key) {
  QPointer<HistoryWindow>& window = historyWindows_[key];
  if (window.isNull()) window = new HistoryWindow(model_->history(), key, this);
  showBeside(*window, *this);
}

void MainWindow::startTimer(int delayMs) {
  tickTimer_->start(delayMs);
}

void MainWindow::stopTimer() {
  tickTimer_->stop();
}

void MainWindow::showMessage(const std::string& text) {
  showMessageBox(this, qtext(text), applicationTitle(), QMessageBox::NoIcon);
}

uint8_t MainWindow::runSearchDialog() {
  return searchDialog_->run();
}

void MainWindow::showPasswordDialog() {
  if (passwordDialog_ != nullptr) passwordDialog_->run();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == form_->widget(DeviceLabel) && event->type() == QEvent::MouseButtonDblClick) {
    runHandler(this, [this] { model_->deviceLabelDoubleClicked(); });
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // Closing the main window ends the program, also while the calibration
  // dialog is still open.
  QWidget::closeEvent(event);
  QCoreApplication::quit();
}

}  // namespace loopmon::qt
