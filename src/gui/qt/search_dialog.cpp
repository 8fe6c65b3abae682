#include "gui/qt/search_dialog.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>

#include <algorithm>

#include "gui/qt/message_box.h"
#include "gui/qt/widgets.h"

namespace loopmon {

namespace {

// The dialog was laid out for an outer size of 324 x 306 with a single fixed
// border; the client area is what is left inside that frame.
constexpr int ClientWidth = 318;
constexpr int ClientHeight = 279;
constexpr int ScanIntervalMs = 10;
constexpr int MaxAddress = 127;
// Room beside an item's text in the drop-down list: the item's own padding.
constexpr int PopupTextMargin = 12;

QString qtext(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

SearchDialog::SearchDialog(BusRunner* bus, std::string portSettingsPath,
                           SearchDialogModel::PortChoices portChoices) {
  createDialog();
  scanTimer_ = new QTimer(this);
  scanTimer_->setInterval(ScanIntervalMs);
  connect(scanTimer_, &QTimer::timeout, this,
          [this] { forward([](SearchDialogModel& m) { m.scanTimerFired(); }); });
  createControls();
  model_ = std::make_unique<SearchDialogModel>(static_cast<SearchDialogView&>(*this), bus,
                                               std::move(portSettingsPath), std::move(portChoices));
}

SearchDialog::~SearchDialog() {
  scanTimer_->stop();
  dialog_->removeEventFilter(this);
  delete dialog_;
}

template <class Input>
void SearchDialog::forward(Input input) {
  runHandler(dialog_, [&] { input(*model_); });
}

void SearchDialog::createDialog() {
  dialog_ = new QDialog(nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                                     Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                     Qt::WindowCloseButtonHint);
  dialog_->setObjectName(QStringLiteral("searchDialog"));
  dialog_->setFixedSize(ClientWidth, ClientHeight);
  dialog_->setFont(designedFont(QStringLiteral("Arial"), 12, true));
  dialog_->installEventFilter(this);
}

void SearchDialog::createControls() {
  auto makeButton = [this](const QString& text, const QString& name, int left) {
    auto* button = new QPushButton(text, dialog_);
    button->setObjectName(name);
    button->setGeometry(left, 243, 90, 30);
    button->installEventFilter(this);
    return button;
  };
  searchButton_ = makeButton(qtext(SearchButtonSearch), QStringLiteral("searchButton"), 113);
  chooseButton_ = makeButton(QStringLiteral("Выбрать"), QStringLiteral("chooseButton"), 23);
  cancelButton_ = makeButton(QStringLiteral("Отмена"), QStringLiteral("cancelButton"), 203);
  chooseButton_->setEnabled(false);

  portLabel_ = new QLabel(QStringLiteral("Последовательный порт"), dialog_);
  portLabel_->move(8, 8);
  portLabel_->adjustSize();

  portSelector_ = new QComboBox(dialog_);
  portSelector_->setObjectName(QStringLiteral("portSelector"));
  portSelector_->setGeometry(200, 6, 105, 21);
  for (int port = 1; port <= PortCount; ++port) {
    portSelector_->addItem(QStringLiteral("COM%1").arg(port));
  }
  portSelector_->setCurrentIndex(1);
  portSelector_->installEventFilter(this);

  deviceList_ = new QListWidget(dialog_);
  deviceList_->setObjectName(QStringLiteral("deviceList"));
  deviceList_->setGeometry(8, 40, 297, 169);
  deviceList_->installEventFilter(this);
  deviceList_->viewport()->installEventFilter(this);

  progressBar_ = new QProgressBar(dialog_);
  progressBar_->setObjectName(QStringLiteral("progressBar"));
  progressBar_->setGeometry(9, 216, 297, 17);
  progressBar_->setRange(0, MaxAddress);
  progressBar_->setValue(0);
  progressBar_->setTextVisible(false);

  QWidget::setTabOrder(chooseButton_, searchButton_);
  QWidget::setTabOrder(searchButton_, cancelButton_);
  QWidget::setTabOrder(cancelButton_, portSelector_);
  QWidget::setTabOrder(portSelector_, deviceList_);

  connect(searchButton_, &QPushButton::clicked, this,
          [this] { forward([](SearchDialogModel& m) { m.searchClicked(); }); });
  connect(chooseButton_, &QPushButton::clicked, this,
          [this] { forward([](SearchDialogModel& m) { m.chooseDevice(); }); });
  connect(cancelButton_, &QPushButton::clicked, this,
          [this] { forward([](SearchDialogModel& m) { m.cancelClicked(); }); });
}

QString SearchDialog::FormCaption() const {
  return dialog_->windowTitle();
}

void SearchDialog::setFormCaption(const QString& caption) {
  dialog_->setWindowTitle(caption);
}

void SearchDialog::setFormFont(const QFont& font) {
  dialog_->setFont(font);
}

uint8_t SearchDialog::RunDialog() {
  dialog_->exec();
  return model_->SelectedAddress();
}

bool SearchDialog::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::Show:
      if (watched == dialog_) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
          dialog_->move(screen->availableGeometry().center() - dialog_->frameGeometry().center() +
                        dialog_->frameGeometry().topLeft());
        }
        forward([](SearchDialogModel& m) { m.aboutToShow(); });
      }
      break;
    case QEvent::Hide:
      if (watched == dialog_) forward([](SearchDialogModel& m) { m.closed(); });
      break;
    case QEvent::KeyPress: {
      const int key = static_cast<QKeyEvent*>(event)->key();
      // The dialog sees keys before its controls: Esc closes it from anywhere.
      if (key == Qt::Key_Escape) {
        dialog_->reject();
        return true;
      }
      if (watched == deviceList_ && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
        forward([](SearchDialogModel& m) { m.chooseDevice(); });
        return true;
      }
      break;
    }
    case QEvent::MouseButtonDblClick:
      if (watched == deviceList_->viewport()) {
        forward([](SearchDialogModel& m) { m.chooseDevice(); });
        return true;
      }
      break;
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

void SearchDialog::clearDevices() {
  deviceList_->clear();
}

void SearchDialog::appendDevice(const std::string& line) {
  deviceList_->addItem(qtext(line));
}

int SearchDialog::deviceCount() const {
  return deviceList_->count();
}

void SearchDialog::focusDeviceList() {
  deviceList_->setFocus();
}

void SearchDialog::focusSearchButton() {
  searchButton_->setFocus();
}

void SearchDialog::setChooseEnabled(bool enabled) {
  chooseButton_->setEnabled(enabled);
}

std::string SearchDialog::title() const {
  return dialog_->windowTitle().toStdString();
}

void SearchDialog::setTitle(const std::string& title) {
  dialog_->setWindowTitle(qtext(title));
}

void SearchDialog::setProgress(int position) {
  progressBar_->setValue(position);
}

std::string SearchDialog::portText() const {
  return portSelector_->currentIndex() < 0 ? std::string()
                                           : portSelector_->currentText().toStdString();
}

void SearchDialog::setPortEnabled(bool enabled) {
  portSelector_->setEnabled(enabled);
}

void SearchDialog::setSearchCaption(const std::string& caption) {
  searchButton_->setText(qtext(caption));
}

void SearchDialog::setScanTimerEnabled(bool enabled) {
  if (enabled) {
    scanTimer_->start();
  } else {
    scanTimer_->stop();
  }
}

void SearchDialog::showError(const std::string& text, const std::string& caption) {
  showMessageBox(dialog_, qtext(text), qtext(caption), QMessageBox::Critical);
}

void SearchDialog::setPortItems(const std::vector<std::string>& texts) {
  portSelector_->clear();
  for (const std::string& text : texts) portSelector_->addItem(qtext(text));
  // The box keeps its designed width and shows the start of an item; the
  // list it drops down is as wide as its longest item, so "COM5 — FT232R USB
  // UART" reads in full without moving anything in the dialog.
  const QFontMetrics metrics(portSelector_->view()->font());
  int widest = 0;
  for (int item = 0; item < portSelector_->count(); ++item) {
    widest = std::max(widest, metrics.horizontalAdvance(portSelector_->itemText(item)));
  }
  const int chrome = 2 * portSelector_->view()->frameWidth() +
                     portSelector_->style()->pixelMetric(QStyle::PM_ScrollBarExtent) +
                     2 * portSelector_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) +
                     PopupTextMargin;
  portSelector_->view()->setMinimumWidth(std::max(portSelector_->width(), widest + chrome));
}

int SearchDialog::portIndex() const {
  return portSelector_->currentIndex();
}

void SearchDialog::setPortIndex(int index) {
  portSelector_->setCurrentIndex(index);
}

int SearchDialog::selectedLine() const {
  return deviceList_->selectedItems().isEmpty() ? -1 : deviceList_->currentRow();
}

void SearchDialog::selectLine(int line) {
  deviceList_->setCurrentRow(line);
}

std::string SearchDialog::deviceLine(int line) const {
  return deviceList_->item(line)->text().toStdString();
}

void SearchDialog::closeDialog() {
  dialog_->reject();
}

}  // namespace loopmon
