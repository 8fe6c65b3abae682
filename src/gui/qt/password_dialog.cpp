#include "gui/qt/password_dialog.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "gui/qt/widgets.h"
#include "gui/qt/calibration_dialog.h"

namespace loopmon {

TfrmPassword::TfrmPassword(TfrmKalibr& frmKalibr)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      frmKalibr_(frmKalibr) {
  setWindowTitle(QStringLiteral("Запрос пароля"));
  setFixedSize(263, 82);
  setFont(designedFont(QStringLiteral("MS Sans Serif"), 11, true));

  Label1 = new QLabel(QStringLiteral("Введите пароль:"), this);
  Label1->setFont(designedFont(QStringLiteral("MS Sans Serif"), 13, true));
  Label1->setGeometry(7, 16, 125, 16);

  MaskEdit1 = new QLineEdit(this);
  MaskEdit1->setGeometry(137, 14, 121, 21);
  MaskEdit1->setEchoMode(QLineEdit::Password);
  MaskEdit1->setStyleSheet(QStringLiteral("lineedit-password-character: 35"));

  btnOk = new QPushButton(QStringLiteral("Ok"), this);
  btnOk->setGeometry(94, 48, 75, 25);
  btnOk->setDefault(true);
  connect(btnOk, &QPushButton::clicked, this, &TfrmPassword::btnOkClick);
}

void TfrmPassword::showEvent(QShowEvent* event) {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  QDialog::showEvent(event);
  MaskEdit1->setFocus();
}

void TfrmPassword::btnOkClick() {
  if (MaskEdit1->text() == QLatin1String(AccessCode)) {
    frmKalibr_.show();
    frmKalibr_.raise();
    frmKalibr_.activateWindow();
  }
  reject();
}

void TfrmPassword::FormClose() {
  MaskEdit1->clear();
}

void TfrmPassword::done(int result) {
  FormClose();
  QDialog::done(result);
}

}  // namespace loopmon
