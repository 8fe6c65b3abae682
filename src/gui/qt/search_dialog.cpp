#include "gui/qt/search_dialog.h"

#include <QAbstractListModel>
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTimer>
#include <algorithm>

#include "desktop/search_form.h"
#include "gui/qt/form_widgets.h"
#include "gui/qt/message_box.h"
#include "gui/qt/note_list.h"

namespace loopmon::qt {

namespace {

using namespace search_form;

constexpr int ScanIntervalMs = 10;

}  // namespace

// The search model's devices as the list's rows. It keeps only how many rows
// the list has been told of, so that a device the scan adds is announced as
// a row inserted.
class DeviceRows : public QAbstractListModel {
 public:
  DeviceRows(QObject* parent, const std::unique_ptr<SearchDialogModel>& model)
      : QAbstractListModel(parent), model_(model) {}

  int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : shown_; }

  QVariant data(const QModelIndex& index, int role) const override {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= shown_) return {};
    return qtext(model_->devices()[static_cast<size_t>(index.row())].line);
  }

  void cleared() {
    beginResetModel();
    shown_ = 0;
    endResetModel();
  }

  void appended() {
    const int devices = static_cast<int>(model_->devices().size());
    if (devices <= shown_) return;
    beginInsertRows({}, shown_, devices - 1);
    shown_ = devices;
    endInsertRows();
  }

 private:
  const std::unique_ptr<SearchDialogModel>& model_;
  int shown_ = 0;
};

SearchDialog::SearchDialog(BusRunner* bus, std::string portSettingsPath,
                           SearchDialogModel::PortChoices portChoices)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                           Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint) {
  form_ = new FormWidgets(*this, Form);
  scanTimer_ = new QTimer(this);
  scanTimer_->setInterval(ScanIntervalMs);
  connect(scanTimer_, &QTimer::timeout, this,
          [this] { forward([](SearchDialogModel& m) { m.scanTimerFired(); }); });
  connect(form_->get<QPushButton>(SearchButton), &QPushButton::clicked, this,
          [this] { forward([](SearchDialogModel& m) { m.searchClicked(); }); });
  connect(form_->get<QPushButton>(ChooseButton), &QPushButton::clicked, this,
          [this] { forward([](SearchDialogModel& m) { m.chooseDevice(); }); });
  connect(form_->get<QPushButton>(CancelButton), &QPushButton::clicked, this,
          [this] { forward([](SearchDialogModel& m) { m.cancelClicked(); }); });
  connect(form_->get<QCheckBox>(QuickOption), &QCheckBox::clicked, this, [this](bool checked) {
    forward([checked](SearchDialogModel& m) { m.quickToggled(checked); });
  });
  rows_ = new DeviceRows(this, model_);
  auto* list = form_->get<NoteListView>(DeviceList);
  list->setModel(rows_);
  list->installEventFilter(this);
  list->viewport()->installEventFilter(this);
  model_ = std::make_unique<SearchDialogModel>(static_cast<SearchDialogView&>(*this), bus,
                                               std::move(portSettingsPath), std::move(portChoices));
}

SearchDialog::~SearchDialog() {
  scanTimer_->stop();
}

template <class Input>
void SearchDialog::forward(Input input) {
  runHandler(this, [&] { input(*model_); });
}

uint8_t SearchDialog::run() {
  exec();
  return model_->SelectedAddress();
}

void SearchDialog::showEvent(QShowEvent* event) {
  forward([](SearchDialogModel& m) { m.aboutToShow(); });
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  QDialog::showEvent(event);
}

void SearchDialog::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  forward([](SearchDialogModel& m) { m.closed(); });
}

void SearchDialog::keyPressEvent(QKeyEvent* event) {
  // The dialog sees keys before its controls: Esc closes it from anywhere.
  if (event->key() == Qt::Key_Escape) {
    forward([](SearchDialogModel& m) { m.cancelClicked(); });
    return;
  }
  QDialog::keyPressEvent(event);
}

bool SearchDialog::eventFilter(QObject* watched, QEvent* event) {
  auto* list = form_->get<NoteListView>(DeviceList);
  if (watched == list && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      forward([](SearchDialogModel& m) { m.chooseDevice(); });
      return true;
    }
  }
  if (watched == list->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    forward([](SearchDialogModel& m) { m.chooseDevice(); });
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void SearchDialog::fitPortSelector() {
  // The closed selector shows its longest port whole ("COM5 — FT232R USB
  // UART"): the dialog grows by what it lacks.
  auto* selector = form_->get<QComboBox>(PortSelector);
  const QFontMetrics metrics(selector->font());
  int widest = 0;
  for (int item = 0; item < selector->count(); ++item) {
    widest = std::max(widest, metrics.horizontalAdvance(selector->itemText(item)));
  }
  QStyleOptionComboBox option;
  option.initFrom(selector);
  const QSize needed = selector->style()->sizeFromContents(
      QStyle::CT_ComboBox, &option, QSize(widest, metrics.height()), selector);
  const int designed = placeControl(Form.control(PortSelector), 96).width;
  form_->setExtraSize({std::max(0, needed.width() - designed), 0});
}

void SearchDialog::clearDevices() {
  rows_->cleared();
}

void SearchDialog::appendDevice(const FoundDevice&) {
  rows_->appended();
}

void SearchDialog::focusDeviceList() {
  if (isVisible()) form_->widget(DeviceList)->setFocus();
}

void SearchDialog::focusSearchButton() {
  if (isVisible()) form_->widget(SearchButton)->setFocus();
}

void SearchDialog::setChooseEnabled(bool enabled) {
  form_->widget(ChooseButton)->setEnabled(enabled);
}

std::string SearchDialog::title() const {
  return windowTitle().toStdString();
}

void SearchDialog::setTitle(const std::string& title) {
  setWindowTitle(qtext(title));
}

void SearchDialog::setProgress(int position) {
  form_->get<QProgressBar>(ProgressBar)->setValue(position);
}

std::string SearchDialog::portText() const {
  const auto* selector = form_->get<QComboBox>(PortSelector);
  return selector->currentIndex() < 0 ? std::string() : selector->currentText().toStdString();
}

void SearchDialog::setPortEnabled(bool enabled) {
  form_->widget(PortSelector)->setEnabled(enabled);
}

void SearchDialog::setSearchCaption(const std::string& caption) {
  form_->get<QPushButton>(SearchButton)->setText(qtext(caption));
}

void SearchDialog::setScanTimerEnabled(bool enabled) {
  if (enabled) {
    scanTimer_->start();
  } else {
    scanTimer_->stop();
  }
}

void SearchDialog::showError(const std::string& text, const std::string& caption) {
  showMessageBox(this, qtext(text), qtext(caption), QMessageBox::Critical);
}

void SearchDialog::showListNote(const std::string& note) {
  form_->get<NoteListView>(DeviceList)->setNote(qtext(note));
}

void SearchDialog::setPortItems(const std::vector<std::string>& texts) {
  auto* selector = form_->get<QComboBox>(PortSelector);
  selector->clear();
  for (const std::string& text : texts) selector->addItem(qtext(text));
  fitPortSelector();
}

int SearchDialog::portIndex() const {
  return form_->get<QComboBox>(PortSelector)->currentIndex();
}

void SearchDialog::setPortIndex(int index) {
  form_->get<QComboBox>(PortSelector)->setCurrentIndex(index);
}

int SearchDialog::selectedLine() const {
  const auto* list = form_->get<NoteListView>(DeviceList);
  return list->selectionModel()->hasSelection() ? list->currentIndex().row() : -1;
}

void SearchDialog::selectLine(int line) {
  form_->get<NoteListView>(DeviceList)->setCurrentIndex(rows_->index(line));
}

void SearchDialog::closeDialog() {
  reject();
}

void SearchDialog::setQuickChecked(bool checked) {
  form_->get<QCheckBox>(QuickOption)->setChecked(checked);
}

}  // namespace loopmon::qt
