#include "gui/qt/calibration_dialog.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

#include "gui/qt/message_box.h"
#include "gui/qt/widgets.h"

namespace loopmon {

namespace {

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

CalibrationDialog::CalibrationDialog(std::function<SelectedDevice()> selectedDevice,
                                     CoefficientsStore& store, std::optional<char> decimalSeparator)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                           Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint),
      model_(std::move(selectedDevice), store, decimalSeparator) {
  setObjectName(QStringLiteral("calibrationDialog"));
  setWindowTitle(QStringLiteral("Калибровка"));
  setFixedSize(278, 182);
  setFont(designedFont(DialogFamily, 11, true));
  createControls();
  connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* window) {
    if (window == nullptr || window == windowHandle()) return;
    returningFromOwnBox_ = window->transientParent() == windowHandle();
  });
}

void CalibrationDialog::createControls() {
  makeLabel(QStringLiteral("Тип прибора"), this, QRect(4, 10, 96, 16), 13, true);
  typeSelector_ = new QComboBox(this);
  typeSelector_->setObjectName(QStringLiteral("typeSelector"));
  typeSelector_->setGeometry(129, 8, 145, 21);
  for (const DeviceTypeEntry& entry : CalibrationTypes) {
    typeSelector_->addItem(QString::fromUtf8(entry.text));
  }
  makeLabel(QStringLiteral("Версия прибора"), this, QRect(4, 34, 121, 16), 13, true);
  versionField_ = new QLineEdit(this);
  versionField_->setObjectName(QStringLiteral("versionField"));
  versionField_->setGeometry(129, 32, 57, 21);

  const QFont fieldFont = designedFont(DialogFamily, 11, false);
  auto makeField = [&](QRect rect, const QString& name) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(name);
    edit->setGeometry(rect);
    edit->setFont(fieldFont);
    return edit;
  };
  makeReferenceCaption(QStringLiteral("1"), this, QRect(25, 67, 113, 16), QPoint(36, 74));
  r1Field_ = makeField(QRect(49, 65, 57, 21), QStringLiteral("r1Field"));
  makeLabel(QStringLiteral("АЦП:"), this, QRect(155, 67, 36, 16), 13, true);
  acp1Field_ = makeField(QRect(196, 65, 57, 21), QStringLiteral("acp1Field"));

  // The hint that R1 is the smaller one, its indexes as subscripts (tiny
  // separate index labels do not line up with substitute fonts).
  QLabel* order = makeLabel(QStringLiteral("(R<sub>1</sub> &lt; R<sub>2</sub>)"), this,
                            QRect(49, 88, 46, 13), 11, false);
  order->adjustSize();

  makeReferenceCaption(QStringLiteral("2"), this, QRect(25, 123, 113, 16), QPoint(36, 130));
  r2Field_ = makeField(QRect(49, 122, 57, 21), QStringLiteral("r2Field"));
  makeLabel(QStringLiteral("АЦП:"), this, QRect(155, 123, 36, 16), 13, true);
  acp2Field_ = makeField(QRect(196, 121, 57, 21), QStringLiteral("acp2Field"));

  enterButton_ = new QPushButton(QStringLiteral("Ввод"), this);
  enterButton_->setObjectName(QStringLiteral("enterButton"));
  enterButton_->setGeometry(60, 151, 75, 25);
  enterButton_->setDefault(true);
  cancelButton_ = new QPushButton(QStringLiteral("Отмена"), this);
  cancelButton_->setObjectName(QStringLiteral("cancelButton"));
  cancelButton_->setGeometry(140, 151, 78, 25);

  QWidget::setTabOrder(r1Field_, acp1Field_);
  QWidget::setTabOrder(acp1Field_, r2Field_);
  QWidget::setTabOrder(r2Field_, acp2Field_);
  QWidget::setTabOrder(acp2Field_, enterButton_);
  QWidget::setTabOrder(enterButton_, cancelButton_);
  QWidget::setTabOrder(cancelButton_, typeSelector_);
  QWidget::setTabOrder(typeSelector_, versionField_);

  for (QLineEdit* edit : {r1Field_, r2Field_, versionField_}) {
    connect(edit, &QLineEdit::textChanged, this, [this, edit] { onFieldEdited(edit); });
  }
  connect(enterButton_, &QPushButton::clicked, this, &CalibrationDialog::onEnterClicked);
  connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
}

CalibrationFields CalibrationDialog::fields() const {
  return {.typeEntry = typeSelector_->currentIndex(),
          .version = versionField_->text().toStdString(),
          .r1 = r1Field_->text().toStdString(),
          .acp1 = acp1Field_->text().toStdString(),
          .r2 = r2Field_->text().toStdString(),
          .acp2 = acp2Field_->text().toStdString()};
}

void CalibrationDialog::showFields(const CalibrationFields& shown) {
  typeSelector_->setCurrentIndex(shown.typeEntry);
  versionField_->setText(qtext(shown.version));
  r1Field_->setText(qtext(shown.r1));
  acp1Field_->setText(qtext(shown.acp1));
  r2Field_->setText(qtext(shown.r2));
  acp2Field_->setText(qtext(shown.acp2));
}

void CalibrationDialog::onActivated() {
  runHandler(this, [this] { showFields(model_.activated(fields())); });
}

void CalibrationDialog::onFieldEdited(QLineEdit* edit) {
  if (const auto fixed = model_.fieldEdited(edit->text().toStdString())) {
    edit->setText(qtext(*fixed));
  }
}

void CalibrationDialog::onEnterClicked() {
  runHandler(this, [this] {
    const std::vector<std::string> failed = model_.enter(fields());
    for (const std::string& message : failed) {
      showMessageBox(this, qtext(message), QStringLiteral("Error"), QMessageBox::Critical);
    }
    accept();
  });
}

void CalibrationDialog::showEvent(QShowEvent* event) {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  QDialog::showEvent(event);
}

bool CalibrationDialog::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) {
    if (!returningFromOwnBox_) onActivated();
    returningFromOwnBox_ = false;
  }
  return QDialog::event(event);
}

}  // namespace loopmon
