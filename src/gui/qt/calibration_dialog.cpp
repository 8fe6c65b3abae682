#include "gui/qt/calibration_dialog.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

#include "common/number_text.h"
#include "gui/qt/widgets.h"
#include "gui/qt/message_box.h"
#include "platform/locale_info.h"

namespace loopmon {

namespace {

struct TypeEntry {
  const char* text;
  int code;
};
constexpr TypeEntry TypeEntries[] = {
    {"Mivra-Q", 1}, {"Mivra-QX", 2}, {"Hovra-J", 4}, {"Mivra-QW", 11}};

const QString DialogFamily = QStringLiteral("MS Sans Serif");

QString qtext(const std::string& text) {
  return QString::fromStdString(text);
}

QLabel* makeLabel(const QString& text, QWidget* parent, QRect rect, int pixelSize, bool bold) {
  auto* label = new QLabel(text, parent);
  label->setFont(designedFont(DialogFamily, pixelSize, bold));
  label->setGeometry(rect);
  return label;
}

// "R [edit] кОм": the letter at the left of the caption, the unit at its right,
// the reference's index below the letter, the edit box between them.
QLabel* makeReferenceCaption(const QString& index, QWidget* parent, QRect rect, QPoint indexAt) {
  QLabel* caption = makeLabel(QStringLiteral("R"), parent, rect, 13, true);
  QLabel* unit =
      makeLabel(QStringLiteral("кОм"), caption, QRect(QPoint(0, 0), rect.size()), 13, true);
  unit->setAlignment(Qt::AlignRight | Qt::AlignTop);
  QLabel* small = makeLabel(index, parent, QRect(indexAt, QSize(8, 10)), 8, true);
  small->adjustSize();
  return caption;
}

}  // namespace

TfrmKalibr::TfrmKalibr(std::function<SelectedDevice()> selectedDevice, CoefficientsStore& store,
                       std::optional<char> decimalSeparator)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                           Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint),
      selectedDevice_(std::move(selectedDevice)),
      store_(store),
      decimalSeparator_(decimalSeparator) {
  setWindowTitle(QStringLiteral("Калибровка"));
  setFixedSize(278, 182);
  setFont(designedFont(DialogFamily, 11, true));
  createControls();
  FormCreate();
  connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* window) {
    if (window == nullptr || window == windowHandle()) return;
    returningFromOwnBox_ = window->transientParent() == windowHandle();
  });
}

void TfrmKalibr::createControls() {
  makeLabel(QStringLiteral("Тип прибора"), this, QRect(4, 10, 96, 16), 13, true);
  cbType = new QComboBox(this);
  cbType->setGeometry(129, 8, 145, 21);
  makeLabel(QStringLiteral("Версия прибора"), this, QRect(4, 34, 121, 16), 13, true);
  edVersion = new QLineEdit(this);
  edVersion->setGeometry(129, 32, 57, 21);

  const QFont fieldFont = designedFont(DialogFamily, 11, false);
  auto makeField = [&](QRect rect) {
    auto* edit = new QLineEdit(this);
    edit->setGeometry(rect);
    edit->setFont(fieldFont);
    return edit;
  };
  makeReferenceCaption(QStringLiteral("1"), this, QRect(25, 67, 113, 16), QPoint(36, 74));
  edR1 = makeField(QRect(49, 65, 57, 21));
  makeLabel(QStringLiteral("АЦП:"), this, QRect(155, 67, 36, 16), 13, true);
  edACP1 = makeField(QRect(196, 65, 57, 21));

  // The hint that R1 is the smaller one, its indexes as subscripts (tiny
  // separate index labels do not line up with substitute fonts).
  QLabel* order = makeLabel(QStringLiteral("(R<sub>1</sub> &lt; R<sub>2</sub>)"), this,
                            QRect(49, 88, 46, 13), 11, false);
  order->adjustSize();

  makeReferenceCaption(QStringLiteral("2"), this, QRect(25, 123, 113, 16), QPoint(36, 130));
  edR2 = makeField(QRect(49, 122, 57, 21));
  makeLabel(QStringLiteral("АЦП:"), this, QRect(155, 123, 36, 16), 13, true);
  edACP2 = makeField(QRect(196, 121, 57, 21));

  bEnter = new QPushButton(QStringLiteral("Ввод"), this);
  bEnter->setGeometry(60, 151, 75, 25);
  bEnter->setDefault(true);
  bCancel = new QPushButton(QStringLiteral("Отмена"), this);
  bCancel->setGeometry(140, 151, 78, 25);

  QWidget::setTabOrder(edR1, edACP1);
  QWidget::setTabOrder(edACP1, edR2);
  QWidget::setTabOrder(edR2, edACP2);
  QWidget::setTabOrder(edACP2, bEnter);
  QWidget::setTabOrder(bEnter, bCancel);
  QWidget::setTabOrder(bCancel, cbType);
  QWidget::setTabOrder(cbType, edVersion);

  for (QLineEdit* edit : {edR1, edR2, edVersion}) {
    connect(edit, &QLineEdit::textChanged, this, [this, edit] { edR1Change(edit); });
  }
  connect(bEnter, &QPushButton::clicked, this, &TfrmKalibr::bEnterClick);
  connect(bCancel, &QPushButton::clicked, this, &TfrmKalibr::bCancelClick);
}

void TfrmKalibr::FormCreate() {
  cbType->clear();
  for (const TypeEntry& entry : TypeEntries)
    cbType->addItem(QString::fromUtf8(entry.text), entry.code);
}

int TfrmKalibr::selectedTypeCode() const {
  return cbType->currentIndex() < 0 ? 0 : cbType->currentData().toInt();
}

void TfrmKalibr::FormActivate() {
  const SelectedDevice device = selectedDevice_();
  const std::optional<CalibrationPoints> points =
      store_.LoadPoints(device.DevType, device.DevVersion);
  if (!points) {
    cbType->setCurrentIndex(-1);
    for (QLineEdit* edit : {edVersion, edACP1, edACP2, edR1, edR2}) edit->clear();
    return;
  }
  const int entry = cbType->findData(int{device.DevType});
  if (entry >= 0) cbType->setCurrentIndex(entry);
  edVersion->setText(qtext(FormatFixed(device.DevVersion / 100.0, 2, separator())));
  edACP1->setText(qtext(points->ACP1));
  edACP2->setText(qtext(points->ACP2));
  edR1->setText(qtext(points->R1));
  edR2->setText(qtext(points->R2));
}

void TfrmKalibr::edR1Change(QLineEdit* edit) {
  // A point typed last becomes the locale's decimal separator (the comma the
  // program is used with); under a point locale the text stays as it is.
  const QString text = edit->text();
  if (text.isEmpty() || text.back() != QLatin1Char('.')) return;
  const QChar wanted = QLatin1Char(separator());
  if (wanted == QLatin1Char('.')) return;
  edit->setText(text.left(text.size() - 1) + wanted);
}

void TfrmKalibr::bEnterClick() {
  bool failed = false;
  if (cbType->currentIndex() < 0) {
    showMessageBox(this, QStringLiteral("Введенный тип прибора неподдерживается"),
                   QStringLiteral("Error"), QMessageBox::Critical);
    failed = true;
  }
  if (edVersion->text().isEmpty()) {
    showMessageBox(this, QStringLiteral("Не введена версия прибора"), QStringLiteral("Error"),
                   QMessageBox::Critical);
    failed = true;
  }
  if (failed) {
    reject();
    return;
  }
  runHandler(this, [this] {
    const SelectedDevice device = selectedDevice_();
    const CalibrationPoints points{edACP1->text().toStdString(), edACP2->text().toStdString(),
                                   edR1->text().toStdString(), edR2->text().toStdString()};
    store_.Save(device.DevType, device.DevVersion, selectedTypeCode(),
                edVersion->text().toStdString(), points);
    accept();
  });
}

char TfrmKalibr::separator() const {
  return decimalSeparator_ ? *decimalSeparator_ : userDecimalSeparator();
}

void TfrmKalibr::bCancelClick() {
  reject();
}

void TfrmKalibr::showEvent(QShowEvent* event) {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  QDialog::showEvent(event);
}

bool TfrmKalibr::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) {
    if (!returningFromOwnBox_) FormActivate();
    returningFromOwnBox_ = false;
  }
  return QDialog::event(event);
}

}  // namespace loopmon
