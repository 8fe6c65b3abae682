#include "gui/qt/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <algorithm>

#include "gui/qt/widgets.h"
#include "loops/loop_decode.h"
#include "gui/qt/loop_grid.h"
#include "gui/qt/message_box.h"
#include "gui/qt/qt_dispatcher.h"
#include "gui/qt/password_dialog.h"
#include "platform/program_folder.h"
#include "gui/qt/search_dialog.h"
#include "session/session.h"

namespace loopmon {

namespace {

QString qtext(const std::string& text) {
  return QString::fromStdString(text);
}

constexpr int ClientWidth = 311;
constexpr int ClientHeight = 434;
constexpr int TimerIntervalMs = 10;
constexpr int MinPeriodSeconds = 1;
constexpr int MaxPeriodSeconds = 30;

}  // namespace

TForm1::Files TForm1::Files::besideProgram() {
  return {CoefficientsFilePath(), programFolder() + "pcom.ini"};
}

TForm1::TForm1(Platform platform, Files files)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      store_(files.coefficients) {
  setWindowTitle(QStringLiteral("Состояние шлейфов приборов:"));
  setWindowIcon(readIcon());
  setFixedSize(ClientWidth, ClientHeight);
  setFont(designedFont(QStringLiteral("System"), 13, true));
  setAttribute(Qt::WA_AlwaysShowToolTips);

  session_ =
      std::make_unique<TRSSession>(std::move(platform), std::make_shared<QtOwnerDispatcher>());
  session_->SetComPort(1);
  session_->SetWork(false);
  session_->SetSearchPriority(0);

  searchDv_ = std::make_unique<TSearchDv>(files.portSettings);
  searchDv_->setFormCaption(QStringLiteral("Поиск приборов"));
  searchDv_->setRSSession(session_.get());
  searchDv_->setFormFont(designedFont(QStringLiteral("Arial"), 12, true));

  Timer1 = new QTimer(this);
  Timer1->setInterval(TimerIntervalMs);
  connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
  periodWait_ = new QTimer(this);
  periodWait_->setSingleShot(true);
  connect(periodWait_, &QTimer::timeout, Timer1, qOverload<>(&QTimer::start));

  requester_ = std::make_unique<SessionRequester>(*session_);
  cycle_ = std::make_unique<ReadingCycle>(*this, *requester_, store_);

  createControls();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::createControls() {
  btnSearch = new QToolButton(this);
  btnSearch->setGeometry(8, 3, 25, 25);
  btnSearch->setIcon(searchIcon());
  btnSearch->setToolTip(QStringLiteral("Произвести поиск подключенных устройств"));
  connect(btnSearch, &QToolButton::clicked, this, &TForm1::sbSearchClick);

  Label1 = new QLabel(QStringLiteral("Прибор не выбран."), this);
  Label1->setGeometry(40, 7, 128, 16);
  Label1->adjustSize();
  Label1->installEventFilter(this);

  StringGrid1 = new LoopGrid(this);
  StringGrid1->setGeometry(8, 32, 295, 362);
  StringGrid1->setDefaultRowHeight(16);
  StringGrid1->setDefaultColWidth(120);
  StringGrid1->onDrawCell = [this](QPainter& p, int col, int row, const QRect& rect) {
    StringGrid1DrawCell(p, col, row, rect);
  };
  StringGrid1->onMouseDown = [this](Qt::MouseButton button, QPoint point) {
    StringGrid1MouseDown(button, point);
  };
  StringGrid1->onMouseMove = [this](Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers,
                                    QPoint point) {
    StringGrid1MouseMove(buttons, modifiers, point);
  };
  StringGrid1->onMouseUp = [this](Qt::MouseButton button, QPoint point) {
    StringGrid1MouseUp(button, point);
  };

  BitBtn2 = new QPushButton(readIcon(), QStringLiteral("Считать"), this);
  BitBtn2->setGeometry(8, 399, 94, 25);
  BitBtn2->setToolTip(QStringLiteral("Считать текущие значения сопротивлений ШС"));
  BitBtn2->setEnabled(false);
  connect(BitBtn2, &QPushButton::clicked, this, &TForm1::BitBtn2Click);

  pACP = new TogglePanel(QStringLiteral("АЦП"), this);
  pACP->setGeometry(106, 400, 40, 24);
  pACP->setLowered(true);
  connect(pACP, &TogglePanel::clicked, this, &TForm1::pACPClick);

  pSS = new TogglePanel(QStringLiteral("ШС"), this);
  pSS->setGeometry(144, 399, 40, 25);
  connect(pSS, &TogglePanel::clicked, this, &TForm1::pSSClick);

  btnTools = new QToolButton(this);
  btnTools->setGeometry(190, 399, 25, 25);
  btnTools->setIcon(toolsIcon());
  btnTools->setToolTip(QStringLiteral("Настройка значений сопротивлений"));
  connect(btnTools, &QToolButton::clicked, this, &TForm1::btnToolsClick);

  SpeedButton = new QToolButton(this);
  SpeedButton->setGeometry(216, 399, 25, 25);
  SpeedButton->setIcon(periodicIcon());
  SpeedButton->setCheckable(true);
  SpeedButton->setToolTip(
      QStringLiteral("Считывать значения сопротивлений ШС с установленным периодом"));
  SpeedButton->setEnabled(false);
  connect(SpeedButton, &QToolButton::clicked, this, &TForm1::SpeedButtonClick);

  sePeriod = new FilteredSpinEdit(this);
  sePeriod->setGeometry(248, 398, 57, 26);
  // The field accepts any two digits; sePeriodChange brings them into 1..30.
  sePeriod->setRange(0, 99);
  sePeriod->setMaxLength(2);
  sePeriod->setValue(1);
  sePeriod->setEnabled(false);
  sePeriod->onKeyPress = [this](QChar& key) { sePeriodKeyPress(key); };
  connect(sePeriod, &QSpinBox::valueChanged, this, &TForm1::sePeriodChange);
}

void TForm1::FormCreate() {
  SetupHeadings();
}

void TForm1::SetupHeadings() {
  if (pACP->isLowered()) {
    StringGrid1->setDefaultColWidth(90);
    StringGrid1->setColWidth(1, 120);
    StringGrid1->setColWidth(2, 77);
    StringGrid1->setCell(0, 0, QStringLiteral("Номер ШС"));
    StringGrid1->setCell(1, 0, QStringLiteral("Показание АЦП"));
    StringGrid1->setCell(2, 0, QStringLiteral("R кОм"));
  } else {
    StringGrid1->setDefaultColWidth(144);
    StringGrid1->setCell(0, 0, QStringLiteral("Номер ШС"));
    StringGrid1->setCell(1, 0, QStringLiteral("Состояние ШС"));
  }
}

void TForm1::clear() {
  for (int row = 0; row <= 19; ++row) {
    StringGrid1->setCell(0, row, QString());
    StringGrid1->setCell(1, row, QString());
  }
}

void TForm1::setReadControlsEnabled(bool enabled) {
  BitBtn2->setEnabled(enabled);
  SpeedButton->setEnabled(enabled);
  sePeriod->setEnabled(enabled);
}

void TForm1::sbSearchClick() {
  setReadControlsEnabled(false);
  StringGrid1->setRowCount(0);
  Dev = {};
  Dev.DevAddr = searchDv_->RunDialog();
  if (Dev.DevAddr == 0) return;

  Label1->setText(qtext(session_->DescribeDevice(Dev.DevAddr)));
  Label1->adjustSize();
  setReadControlsEnabled(true);
  clear();
  StringGrid1->setVerticalScrollBarShown(false);
  const uint16_t type = session_->GetDeviceType(Dev.DevAddr);
  switch (type) {
    case 1:
    case 2:
    case 11:
      StringGrid1->setRowCount(21);
      break;
    case 4:
      StringGrid1->setRowCount(5);
      break;
    case LineControllerType:
      StringGrid1->setRowCount(128);
      StringGrid1->setVerticalScrollBarShown(true);
      break;
    default:
      StringGrid1->setRowCount(0);
      break;
  }
  SetupHeadings();
  Dev.DevType = static_cast<uint8_t>(type & 0xFF);
  Dev.DevVersion = session_->DeviceVersions[Dev.DevAddr];
  for (int row = 1; row < StringGrid1->rowCount(); ++row) {
    StringGrid1->setCell(0, row, QString::number(row));
    StringGrid1->setMark(row, type == LineControllerType && row >= 2 ? 1 : 0);
  }
}

void TForm1::BitBtn2Click() {
  runHandler(this, [this] { startReading(); });
}

void TForm1::startReading() {
  cycle_->Start();
  periodWait_->stop();
  Timer1->start();
}

void TForm1::Timer1Timer() {
  Timer1->stop();
  runHandler(this, [this] {
    const TickResult result = cycle_->Tick();
    if (result.waitBeforeEnableMs > 0) {
      periodWait_->start(result.waitBeforeEnableMs);
    } else if (result.enableTimer) {
      Timer1->start();
    }
  });
}

bool TForm1::readingScheduled() const {
  return Timer1->isActive() || periodWait_->isActive();
}

bool TForm1::waitingBetweenPasses() const { return periodWait_->isActive(); }

void TForm1::switchView(TogglePanel* lowered, TogglePanel* raised) {
  lowered->setLowered(true);
  raised->setLowered(false);
  for (int row = 0; row < StringGrid1->rowCount(); ++row) {
    StringGrid1->setCell(1, row, QString());
    StringGrid1->setCell(2, row, QString());
  }
  SetupHeadings();
}

void TForm1::pACPClick() {
  switchView(pACP, pSS);
}

void TForm1::pSSClick() {
  switchView(pSS, pACP);
}

void TForm1::SpeedButtonClick() {
  runHandler(this, [this] {
    if (SpeedButton->isChecked()) {
      // A reading that cannot start (a broken calibration) leaves BitBtn2 as it was.
      startReading();
      BitBtn2->setEnabled(false);
    } else {
      // The release also cancels a wait between passes: no further tick.
      Timer1->stop();
      periodWait_->stop();
      BitBtn2->setEnabled(true);
    }
  });
}

void TForm1::sePeriodChange(int value) {
  if (value < MinPeriodSeconds) {
    sePeriod->setValue(MinPeriodSeconds);
  } else if (value > MaxPeriodSeconds) {
    sePeriod->setValue(MaxPeriodSeconds);
  }
}

void TForm1::sePeriodKeyPress(QChar& key) {
  const bool digit = key >= QLatin1Char('0') && key <= QLatin1Char('9');
  if (!digit && key != QChar(8) && key != QChar(13)) key = QChar();
}

void TForm1::btnToolsClick() {
  if (frmPassword_ != nullptr) frmPassword_->exec();
}

void TForm1::Label1DblClick() {
  ClosePort(*session_);
}

void TForm1::StringGrid1DrawCell(QPainter& painter, int col, int row, const QRect& rect) {
  if (col != 0 || StringGrid1->mark(row) == 0) return;
  painter.fillRect(rect, QColor(255, 0, 0));
  painter.drawText(rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                   StringGrid1->cell(col, row));
}

void TForm1::StringGrid1MouseDown(Qt::MouseButton button, QPoint point) {
  if (button != Qt::LeftButton) return;
  int col = -1;
  int row = -1;
  StringGrid1->mouseToCell(point, col, row);
  if (col != 0 || row <= 0) return;
  StringGrid1->setMark(row, StringGrid1->mark(row) == 0 ? 1 : 0);
  MarkStartRow = MarkLastRow = row;
  MarkValue = StringGrid1->mark(row);
  marking_ = true;
}

void TForm1::StringGrid1MouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers,
                                  QPoint point) {
  if (!marking_ || buttons != Qt::LeftButton || modifiers != Qt::NoModifier) return;
  int col = -1;
  int row = -1;
  StringGrid1->mouseToCell(point, col, row);
  if (col != 0 || row <= 0 || row == MarkLastRow) return;
  StringGrid1->setMark(row, MarkValue);
  MarkLastRow = row;
}

void TForm1::StringGrid1MouseUp(Qt::MouseButton button, QPoint point) {
  if (!marking_ || button != Qt::LeftButton) return;
  marking_ = false;
  int col = -1;
  int row = -1;
  StringGrid1->mouseToCell(point, col, row);
  const int first = std::max(std::min(MarkStartRow, row), 1);
  const int last = std::min(std::max(MarkStartRow, row), StringGrid1->rowCount() - 1);
  for (int r = first; r <= last; ++r) StringGrid1->setMark(r, MarkValue);
}

int TForm1::RowCount() const {
  return StringGrid1->rowCount();
}

std::string TForm1::Cell(int column, int row) const {
  return StringGrid1->cell(column, row).toStdString();
}

void TForm1::SetCell(int column, int row, const std::string& text) {
  StringGrid1->setCell(column, row, qtext(text));
}

bool TForm1::SkipMark(int row) const {
  return StringGrid1->mark(row) != 0;
}

bool TForm1::AdcView() const {
  return pACP->isLowered();
}

bool TForm1::PeriodicOn() const {
  return SpeedButton->isChecked();
}

int TForm1::PeriodSeconds() const {
  return std::clamp(sePeriod->value(), MinPeriodSeconds, MaxPeriodSeconds);
}

void TForm1::ClearTable() {
  clear();
  SetupHeadings();
}

void TForm1::SetCaption(const std::string& caption) {
  setWindowTitle(qtext(caption));
}

void TForm1::ShowMessage(const std::string& text) {
  showMessageBox(this, qtext(text), applicationTitle(), QMessageBox::NoIcon);
}

void TForm1::ProcessPendingEvents() {
  QCoreApplication::processEvents();
}

void TForm1::RepaintTable() {
  StringGrid1->viewport()->repaint();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Label1 && event->type() == QEvent::MouseButtonDblClick) {
    Label1DblClick();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TForm1::closeEvent(QCloseEvent* event) {
  // Closing the main window ends the program, also while the calibration
  // dialog is still open.
  QWidget::closeEvent(event);
  QCoreApplication::quit();
}

}  // namespace loopmon
