#include "gui/qt/password_dialog.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "desktop/password_form.h"
#include "gui/qt/calibration_dialog.h"
#include "gui/qt/form_widgets.h"

namespace loopmon::qt {

PasswordDialog::PasswordDialog(CalibrationDialog& calibrationDialog)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      calibrationDialog_(calibrationDialog) {
  form_ = new FormWidgets(*this, password_form::Form);
  connect(form_->get<QPushButton>(password_form::OkButton), &QPushButton::clicked, this, [this] {
    model_.okClicked(form_->get<QLineEdit>(password_form::CodeField)->text().toStdString());
  });
}

void PasswordDialog::run() {
  exec();
  model_.closed();
}

void PasswordDialog::showEvent(QShowEvent* event) {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  QDialog::showEvent(event);
  form_->widget(password_form::CodeField)->setFocus();
}

void PasswordDialog::clearCode() {
  form_->get<QLineEdit>(password_form::CodeField)->clear();
}

void PasswordDialog::showCalibration() {
  calibrationDialog_.show();
  calibrationDialog_.raise();
  calibrationDialog_.activateWindow();
}

}  // namespace loopmon::qt
