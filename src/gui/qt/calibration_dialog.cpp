#include "gui/qt/calibration_dialog.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

#include "desktop/calibration_form.h"
#include "gui/qt/form_widgets.h"
#include "gui/qt/message_box.h"

namespace loopmon::qt {

using namespace calibration_form;

CalibrationDialog::CalibrationDialog(std::function<SelectedDevice()> selectedDevice,
                                     CoefficientsStore& store, std::optional<char> decimalSeparator)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                           Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint),
      model_(std::move(selectedDevice), store, decimalSeparator) {
  form_ = new FormWidgets(*this, Form);
  auto* types = form_->get<QComboBox>(TypeSelector);
  for (const DeviceTypeEntry& entry : CalibrationTypes)
    types->addItem(QString::fromUtf8(entry.text));
  for (int id : {R1Field, R2Field, VersionField}) {
    connect(form_->get<QLineEdit>(id), &QLineEdit::textChanged, this,
            [this, id] { onFieldEdited(id); });
  }
  connect(form_->get<QPushButton>(EnterButton), &QPushButton::clicked, this,
          &CalibrationDialog::onEnterClicked);
  connect(form_->get<QPushButton>(CancelButton), &QPushButton::clicked, this, &QDialog::reject);
  connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* window) {
    if (window == nullptr || window == windowHandle()) return;
    returningFromOwnBox_ = window->transientParent() == windowHandle();
  });
}

CalibrationFields CalibrationDialog::fields() const {
  auto text = [this](int id) { return form_->get<QLineEdit>(id)->text().toStdString(); };
  return {.typeEntry = form_->get<QComboBox>(TypeSelector)->currentIndex(),
          .version = text(VersionField),
          .r1 = text(R1Field),
          .acp1 = text(Acp1Field),
          .r2 = text(R2Field),
          .acp2 = text(Acp2Field)};
}

void CalibrationDialog::showFields(const CalibrationFields& shown) {
  form_->get<QComboBox>(TypeSelector)->setCurrentIndex(shown.typeEntry);
  const std::pair<int, const std::string*> texts[] = {{VersionField, &shown.version},
                                                      {R1Field, &shown.r1},
                                                      {Acp1Field, &shown.acp1},
                                                      {R2Field, &shown.r2},
                                                      {Acp2Field, &shown.acp2}};
  for (const auto& [id, text] : texts) form_->get<QLineEdit>(id)->setText(qtext(*text));
}

void CalibrationDialog::onFieldEdited(int id) {
  auto* edit = form_->get<QLineEdit>(id);
  if (const auto fixed = model_.fieldEdited(edit->text().toStdString())) {
    edit->setText(qtext(*fixed));
  }
}

void CalibrationDialog::onEnterClicked() {
  runHandler(this, [this] {
    for (const std::string& message : model_.enter(fields())) {
      showMessageBox(this, qtext(message), QString::fromUtf8(texts::CalibrationErrorCaption),
                     QMessageBox::Critical);
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
    if (!returningFromOwnBox_) runHandler(this, [this] { showFields(model_.activated(fields())); });
    returningFromOwnBox_ = false;
  }
  return QDialog::event(event);
}

}  // namespace loopmon::qt
