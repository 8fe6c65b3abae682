#include "gui/qt/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolButton>

#include "gui/qt/history_window.h"
#include "gui/qt/loop_grid.h"
#include "gui/qt/message_box.h"
#include "gui/qt/password_dialog.h"
#include "gui/qt/qt_dispatcher.h"
#include "gui/qt/search_dialog.h"
#include "gui/qt/widgets.h"
#include "platform/program_folder.h"
#include "session/bus_runner.h"
#include "session/session.h"

namespace loopmon {

namespace {

QString qtext(const std::string& text) {
  return QString::fromStdString(text);
}

constexpr int ClientWidth = 311;
constexpr int ClientHeight = 434;
// The moved mark: a small corner of the loop number's cell, in a colour that
// stays apart from the red of a skipped loop and from the grey around it.
const QColor MovedColour(0, 70, 200);
constexpr int MovedCornerSide = 7;

}  // namespace

MainWindow::Files MainWindow::Files::besideProgram() {
  return {CoefficientsFilePath(), besideProgramPath("pcom.ini")};
}

MainWindow::MainWindow(Platform platform, Files files)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      store_(files.coefficients) {
  setObjectName(QStringLiteral("mainWindow"));
  setWindowIcon(readIcon());
  setFixedSize(ClientWidth, ClientHeight);
  setFont(designedFont(QStringLiteral("System"), 13, true));
  setAttribute(Qt::WA_AlwaysShowToolTips);

  session_ =
      std::make_unique<TRSSession>(std::move(platform), std::make_shared<QtOwnerDispatcher>());
  session_->SetComPort(1);
  session_->SetWork(false);
  session_->SetSearchPriority(0);
  // Every follow-up of an exchange runs on this window's thread, under the
  // general error handler.
  bus_ = std::make_unique<BusThread>(*session_, [this](std::function<void()> call) {
    QMetaObject::invokeMethod(
        this, [this, call = std::move(call)] { runHandler(this, call); }, Qt::QueuedConnection);
  });

  // The dialog offers every port present or mapped, each with the device
  // behind it, looked up afresh at each showing (a converter plugged in
  // meanwhile is there).
  searchDialog_ = std::make_unique<SearchDialog>(
      bus_.get(), files.portSettings, [registry = session_->platform.registry] {
        return registry ? searchPortChoices(listPorts(*registry)) : searchPortChoices({});
      });
  searchDialog_->setFormCaption(QStringLiteral("Поиск приборов"));
  searchDialog_->setFormFont(designedFont(QStringLiteral("Arial"), 12, true));

  tickTimer_ = new QTimer(this);
  tickTimer_->setSingleShot(true);
  connect(tickTimer_, &QTimer::timeout, this,
          [this] { runHandler(this, [this] { model_->timerFired(); }); });

  createControls();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  model_ = std::make_unique<MainWindowModel>(static_cast<MainWindowView&>(*this), *bus_, store_);
}

MainWindow::~MainWindow() {
  // The bus thread ends before the models its follow-ups would reach.
  tickTimer_->stop();
  bus_.reset();
  // The history windows show the model's history.
  for (auto& entry : historyWindows_) delete entry.second.data();
}

void MainWindow::createControls() {
  auto forward = [this](auto input) {
    return [this, input] { runHandler(this, [&] { input(*model_); }); };
  };

  searchButton_ = new QToolButton(this);
  searchButton_->setObjectName(QStringLiteral("searchButton"));
  searchButton_->setGeometry(8, 3, 25, 25);
  searchButton_->setIcon(searchIcon());
  searchButton_->setToolTip(QStringLiteral("Произвести поиск подключенных устройств"));
  connect(searchButton_, &QToolButton::clicked, this,
          forward([](MainWindowModel& m) { m.searchClicked(); }));

  deviceLabel_ = new QLabel(this);
  deviceLabel_->setObjectName(QStringLiteral("deviceLabel"));
  deviceLabel_->setGeometry(40, 7, 128, 16);
  deviceLabel_->installEventFilter(this);

  loopTable_ = new LoopGrid(this);
  loopTable_->setObjectName(QStringLiteral("loopTable"));
  loopTable_->setGeometry(8, 32, 295, 362);
  loopTable_->setDefaultRowHeight(16);
  loopTable_->setDefaultColWidth(120);
  loopTable_->onDrawCell = [this](QPainter& p, int col, int row, const QRect& rect) {
    drawMarkedCell(p, col, row, rect);
  };
  loopTable_->onMouseDown = [this](Qt::MouseButton button, QPoint point) {
    int col = -1;
    int row = -1;
    loopTable_->mouseToCell(point, col, row);
    runHandler(this, [&] { model_->tablePressed(col, row, button == Qt::LeftButton); });
  };
  loopTable_->onMouseMove = [this](Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers,
                                   QPoint point) {
    int col = -1;
    int row = -1;
    loopTable_->mouseToCell(point, col, row);
    const bool onlyLeft = buttons == Qt::LeftButton && modifiers == Qt::NoModifier;
    runHandler(this, [&] { model_->tableDragged(col, row, onlyLeft); });
  };
  loopTable_->onMouseUp = [this](Qt::MouseButton button, QPoint point) {
    int col = -1;
    int row = -1;
    loopTable_->mouseToCell(point, col, row);
    runHandler(this, [&] { model_->tableReleased(row, button == Qt::LeftButton); });
  };
  loopTable_->onContextMenu = [this](QPoint point, QPoint globalPoint) {
    showLoopMenu(point, globalPoint);
  };
  loopMenu_ = new QMenu(this);
  loopMenu_->setObjectName(QStringLiteral("loopMenu"));
  historyAction_ = loopMenu_->addAction(QStringLiteral("История шлейфа..."));
  historyAction_->setObjectName(QStringLiteral("historyAction"));
  connect(historyAction_, &QAction::triggered, this,
          [this] { runHandler(this, [this] { model_->historyClicked(menuRow_); }); });

  readButton_ = new QPushButton(readIcon(), QStringLiteral("Считать"), this);
  readButton_->setObjectName(QStringLiteral("readButton"));
  readButton_->setGeometry(8, 399, 94, 25);
  readButton_->setToolTip(QStringLiteral("Считать текущие значения сопротивлений ШС"));
  connect(readButton_, &QPushButton::clicked, this,
          forward([](MainWindowModel& m) { m.readClicked(); }));

  adcViewToggle_ = new TogglePanel(QStringLiteral("АЦП"), this);
  adcViewToggle_->setObjectName(QStringLiteral("adcViewToggle"));
  adcViewToggle_->setGeometry(106, 400, 40, 24);
  connect(adcViewToggle_, &TogglePanel::clicked, this,
          forward([](MainWindowModel& m) { m.adcViewClicked(); }));

  stateViewToggle_ = new TogglePanel(QStringLiteral("ШС"), this);
  stateViewToggle_->setObjectName(QStringLiteral("stateViewToggle"));
  stateViewToggle_->setGeometry(144, 399, 40, 25);
  connect(stateViewToggle_, &TogglePanel::clicked, this,
          forward([](MainWindowModel& m) { m.stateViewClicked(); }));

  toolsButton_ = new QToolButton(this);
  toolsButton_->setObjectName(QStringLiteral("toolsButton"));
  toolsButton_->setGeometry(190, 399, 25, 25);
  toolsButton_->setIcon(toolsIcon());
  toolsButton_->setToolTip(QStringLiteral("Настройка значений сопротивлений"));
  connect(toolsButton_, &QToolButton::clicked, this,
          forward([](MainWindowModel& m) { m.toolsClicked(); }));

  periodicButton_ = new QToolButton(this);
  periodicButton_->setObjectName(QStringLiteral("periodicButton"));
  periodicButton_->setGeometry(216, 399, 25, 25);
  periodicButton_->setIcon(periodicIcon());
  periodicButton_->setCheckable(true);
  periodicButton_->setToolTip(
      QStringLiteral("Считывать значения сопротивлений ШС с установленным периодом"));
  connect(periodicButton_, &QToolButton::clicked, this,
          [this](bool down) { runHandler(this, [&] { model_->periodicClicked(down); }); });

  periodField_ = new FilteredSpinEdit(this);
  periodField_->setObjectName(QStringLiteral("periodField"));
  periodField_->setGeometry(248, 398, 57, 26);
  // The field accepts any two digits; the model brings them into 1..30.
  periodField_->setRange(0, 99);
  periodField_->setMaxLength(2);
  periodField_->onKeyPress = [](QChar& key) {
    if (!MainWindowModel::periodKeyAccepted(key.unicode())) key = QChar();
  };
  connect(periodField_, &QSpinBox::valueChanged, this, [this](int value) {
    if (model_) runHandler(this, [&] { model_->periodChanged(value); });
  });
}

void MainWindow::drawMarkedCell(QPainter& painter, int column, int row, const QRect& rect) {
  if (column != 0) return;
  if (loopTable_->mark(row) != 0) {
    painter.fillRect(rect, QColor(255, 0, 0));
    painter.drawText(rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                     loopTable_->cell(column, row));
  }
  if (loopTable_->moved(row)) {
    const QPoint corner = rect.topRight();
    const QPoint triangle[] = {corner, corner - QPoint(MovedCornerSide, 0),
                               corner + QPoint(0, MovedCornerSide)};
    painter.setPen(Qt::NoPen);
    painter.setBrush(MovedColour);
    painter.drawPolygon(triangle, 3);
  }
}

void MainWindow::showLoopMenu(QPoint point, QPoint globalPoint) {
  int col = -1;
  int row = -1;
  loopTable_->mouseToCell(point, col, row);
  if (row <= 0) return;
  menuRow_ = row;
  historyAction_->setEnabled(model_->historyKey(row).has_value());
  loopMenu_->popup(globalPoint);
}

void MainWindow::showCaption(const std::string& caption) {
  setWindowTitle(qtext(caption));
}

void MainWindow::showDeviceLabel(const std::string& text) {
  deviceLabel_->setText(qtext(text));
  deviceLabel_->adjustSize();
}

void MainWindow::showReadControls(bool readEnabled, bool periodicEnabled, bool periodEnabled) {
  readButton_->setEnabled(readEnabled);
  periodicButton_->setEnabled(periodicEnabled);
  periodField_->setEnabled(periodEnabled);
}

void MainWindow::showPeriodicDown(bool down) {
  periodicButton_->setChecked(down);
}

void MainWindow::showPeriod(int seconds) {
  periodField_->setValue(seconds);
}

void MainWindow::showView(bool adcView) {
  adcViewToggle_->setLowered(adcView);
  stateViewToggle_->setLowered(!adcView);
  if (adcView) {
    loopTable_->setDefaultColWidth(90);
    loopTable_->setColWidth(1, 120);
    loopTable_->setColWidth(2, 77);
  } else {
    loopTable_->setDefaultColWidth(144);
  }
}

void MainWindow::showRowCount(int rows, bool scrollBar) {
  loopTable_->setRowCount(rows);
  loopTable_->setVerticalScrollBarShown(scrollBar);
}

void MainWindow::showCell(int column, int row, const std::string& text) {
  loopTable_->setCell(column, row, qtext(text));
}

void MainWindow::showMark(int row, bool marked) {
  loopTable_->setMark(row, marked ? 1 : 0);
}

void MainWindow::showMoved(int row, bool moved) {
  loopTable_->setMoved(row, moved);
}

void MainWindow::showHistory(LoopKey key) {
  QPointer<HistoryWindow>& window = historyWindows_[key];
  if (window.isNull()) window = new HistoryWindow(model_->history(), key, this);
  window->show();
  window->raise();
  window->activateWindow();
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
  return searchDialog_->RunDialog();
}

void MainWindow::showPasswordDialog() {
  if (passwordDialog_ != nullptr) passwordDialog_->exec();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == deviceLabel_ && event->type() == QEvent::MouseButtonDblClick) {
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

}  // namespace loopmon
