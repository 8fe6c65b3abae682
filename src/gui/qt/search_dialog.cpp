#include "gui/qt/search_dialog.h"

#include <QComboBox>
#include <QDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "gui/qt/widgets.h"
#include "gui/qt/message_box.h"
#include "platform/profile_file.h"

namespace loopmon {

namespace {

// The dialog was laid out for an outer size of 324 x 306 with a single fixed
// border; the client area is what is left inside that frame.
constexpr int ClientWidth = 318;
constexpr int ClientHeight = 279;
constexpr int ScanIntervalMs = 10;
constexpr int MaxAddress = 127;
const char* const PortSection = "Port";
const char* const PortKey = "Num";

QString qtext(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

uint8_t AddressFromLine(const QString& line) {
  const QString field = line.mid(6, 6);
  int pos = 0;
  while (pos < field.size() && field[pos] == QLatin1Char(' ')) ++pos;
  int address = 0;
  for (; pos < field.size() && field[pos].isDigit(); ++pos) {
    address = address * 10 + field[pos].digitValue();
  }
  return static_cast<uint8_t>(address);
}

TSearchDv::TSearchDv(std::string portSettingsPath)
    : procedure_(*this), portSettingsPath_(std::move(portSettingsPath)) {
  createDialog();
  ScanTimer = new QTimer(this);
  ScanTimer->setInterval(ScanIntervalMs);
  connect(ScanTimer, &QTimer::timeout, this, [this] { procedure_.ScanStep(); });
  createControls();
}

TSearchDv::~TSearchDv() {
  ScanTimer->stop();
  Form->removeEventFilter(this);
  delete Form;
}

void TSearchDv::createDialog() {
  Form = new QDialog(nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                                  Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                  Qt::WindowCloseButtonHint);
  Form->setFixedSize(ClientWidth, ClientHeight);
  Form->setFont(designedFont(QStringLiteral("Arial"), 12, true));
  Form->installEventFilter(this);
}

void TSearchDv::createControls() {
  auto makeButton = [this](const QString& text, int left) {
    auto* button = new QPushButton(text, Form);
    button->setGeometry(left, 243, 90, 30);
    button->installEventFilter(this);
    return button;
  };
  SearchButton = makeButton(qtext(SearchButtonSearch), 113);
  ChooseButton = makeButton(QStringLiteral("Выбрать"), 23);
  CancelButton = makeButton(QStringLiteral("Отмена"), 203);
  ChooseButton->setEnabled(false);

  PortLabel = new QLabel(QStringLiteral("Последовательный порт"), Form);
  PortLabel->move(8, 8);
  PortLabel->adjustSize();

  PortSelector = new QComboBox(Form);
  PortSelector->setGeometry(200, 6, 105, 21);
  for (int port = 1; port <= 4; ++port) PortSelector->addItem(QStringLiteral("COM%1").arg(port));
  PortSelector->setCurrentIndex(1);
  PortSelector->installEventFilter(this);

  DeviceList = new QListWidget(Form);
  DeviceList->setGeometry(8, 40, 297, 169);
  DeviceList->installEventFilter(this);
  DeviceList->viewport()->installEventFilter(this);

  Progress = new QProgressBar(Form);
  Progress->setGeometry(9, 216, 297, 17);
  Progress->setRange(0, MaxAddress);
  Progress->setValue(0);
  Progress->setTextVisible(false);

  QWidget::setTabOrder(ChooseButton, SearchButton);
  QWidget::setTabOrder(SearchButton, CancelButton);
  QWidget::setTabOrder(CancelButton, PortSelector);
  QWidget::setTabOrder(PortSelector, DeviceList);

  connect(SearchButton, &QPushButton::clicked, this, [this] { procedure_.StartStopScan(); });
  connect(ChooseButton, &QPushButton::clicked, this, &TSearchDv::ChooseDevice);
  connect(CancelButton, &QPushButton::clicked, this, &TSearchDv::CancelClick);
}

QString TSearchDv::FormCaption() const {
  return Form->windowTitle();
}

void TSearchDv::setFormCaption(const QString& caption) {
  Form->setWindowTitle(caption);
}

QFont TSearchDv::FormFont() const {
  return Form->font();
}

void TSearchDv::setFormFont(const QFont& font) {
  Form->setFont(font);
}

uint8_t TSearchDv::RunDialog() {
  Form->exec();
  return procedure_.SelectedAddress;
}

void TSearchDv::readPortIndex() {
  const int index = ProfileFile(portSettingsPath_).readInt(PortSection, PortKey, 0);
  PortSelector->setCurrentIndex(index >= 0 && index < PortSelector->count() ? index : -1);
}

void TSearchDv::FormShow() {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    Form->move(screen->availableGeometry().center() - Form->frameGeometry().center() +
               Form->frameGeometry().topLeft());
  }
  readPortIndex();
  procedure_.CheckKnownDevices();
}

void TSearchDv::ChooseDevice() {
  ScanTimer->stop();
  if (DeviceList->count() == 0) return;
  if (DeviceList->currentRow() < 0 || DeviceList->selectedItems().isEmpty()) {
    DeviceList->setCurrentRow(0);
  }
  procedure_.SelectedAddress = AddressFromLine(DeviceList->currentItem()->text());
  Form->reject();
}

void TSearchDv::CancelClick() {
  ScanTimer->stop();
  Form->reject();
}

void TSearchDv::SaveSettings() {
  if (searchCaption() == SearchButtonStop) {
    ScanTimer->stop();
    setTitle(procedure_.SavedCaption);
  }
  setSearchCaption(SearchButtonSearch);
  setPortEnabled(true);
  setProgress(0);
  if (PortSelector->currentIndex() < 0) PortSelector->setCurrentIndex(0);
  // A refused write (a read-only program folder) must not keep the dialog open.
  ProfileFile(portSettingsPath_)
      .writeString(PortSection, PortKey, std::to_string(PortSelector->currentIndex()));
}

bool TSearchDv::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::Show:
      if (watched == Form) FormShow();
      break;
    case QEvent::Hide:
      if (watched == Form) SaveSettings();
      break;
    case QEvent::KeyPress: {
      const int key = static_cast<QKeyEvent*>(event)->key();
      // The dialog sees keys before its controls: Esc closes it from anywhere.
      if (key == Qt::Key_Escape) {
        Form->reject();
        return true;
      }
      if (watched == DeviceList && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
        ChooseDevice();
        return true;
      }
      break;
    }
    case QEvent::MouseButtonDblClick:
      if (watched == DeviceList->viewport()) {
        ChooseDevice();
        return true;
      }
      break;
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

void TSearchDv::clearDevices() {
  DeviceList->clear();
}

void TSearchDv::appendDevice(const std::string& line) {
  DeviceList->addItem(qtext(line));
}

int TSearchDv::deviceCount() const {
  return DeviceList->count();
}

void TSearchDv::focusDeviceList() {
  DeviceList->setFocus();
}

void TSearchDv::focusSearchButton() {
  SearchButton->setFocus();
}

void TSearchDv::setChooseEnabled(bool enabled) {
  ChooseButton->setEnabled(enabled);
}

std::string TSearchDv::title() const {
  return Form->windowTitle().toStdString();
}

void TSearchDv::setTitle(const std::string& title) {
  Form->setWindowTitle(qtext(title));
}

void TSearchDv::setProgress(int position) {
  Progress->setValue(position);
}

std::string TSearchDv::portText() const {
  return PortSelector->currentIndex() < 0 ? std::string()
                                          : PortSelector->currentText().toStdString();
}

void TSearchDv::setPortEnabled(bool enabled) {
  PortSelector->setEnabled(enabled);
}

std::string TSearchDv::searchCaption() const {
  return SearchButton->text().toStdString();
}

void TSearchDv::setSearchCaption(const std::string& caption) {
  SearchButton->setText(qtext(caption));
}

void TSearchDv::setScanTimerEnabled(bool enabled) {
  if (enabled) {
    ScanTimer->start();
  } else {
    ScanTimer->stop();
  }
}

void TSearchDv::showError(const std::string& text, const std::string& caption) {
  showMessageBox(Form, qtext(text), qtext(caption), QMessageBox::Critical);
}

}  // namespace loopmon
