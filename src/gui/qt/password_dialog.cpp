#include "gui/qt/password_dialog.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "gui/qt/calibration_dialog.h"
#include "gui/qt/widgets.h"
#include "loops/calibration_model.h"

namespace loopmon {

PasswordDialog::PasswordDialog(CalibrationDialog& calibrationDialog)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      calibrationDialog_(calibrationDialog) {
  setObjectName(QStringLiteral("passwordDialog"));
  setWindowTitle(QStringLiteral("Запрос пароля"));
  setFixedSize(263, 82);
  setFont(designedFont(QStringLiteral("MS Sans Serif"), 11, true));

  auto* prompt = new QLabel(QStringLiteral("Введите пароль:"), this);
  prompt->setFont(designedFont(QStringLiteral("MS Sans Serif"), 13, true));
  prompt->setGeometry(7, 16, 125, 16);

  codeField_ = new QLineEdit(this);
  codeField_->setObjectName(QStringLiteral("codeField"));
  codeField_->setGeometry(137, 14, 121, 21);
  codeField_->setEchoMode(QLineEdit::Password);
  codeField_->setStyleSheet(QStringLiteral("lineedit-password-character: 35"));

  auto* okButton = new QPushButton(QStringLiteral("Ok"), this);
  okButton->setObjectName(QStringLiteral("okButton"));
  okButton->setGeometry(94, 48, 75, 25);
  okButton->setDefault(true);
  connect(okButton, &QPushButton::clicked, this, &PasswordDialog::onOkClicked);
}

void PasswordDialog::showEvent(QShowEvent* event) {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  QDialog::showEvent(event);
  codeField_->setFocus();
}

void PasswordDialog::onOkClicked() {
  if (AccessCodeAccepted(codeField_->text().toStdString())) {
    calibrationDialog_.show();
    calibrationDialog_.raise();
    calibrationDialog_.activateWindow();
  }
  reject();
}

void PasswordDialog::done(int result) {
  codeField_->clear();
  QDialog::done(result);
}

}  // namespace loopmon
