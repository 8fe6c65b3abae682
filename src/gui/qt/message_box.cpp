#include "gui/qt/message_box.h"

#include <utility>

#include "desktop/texts.h"

namespace loopmon::qt {

namespace {
MessageBoxHook& currentHook() {
  static MessageBoxHook hook;
  return hook;
}
}  // namespace

QString applicationTitle() {
  return QString::fromUtf8(texts::ApplicationTitle);
}

void showMessageBox(QWidget* parent, const QString& text, const QString& caption,
                    QMessageBox::Icon icon) {
  if (currentHook()) {
    currentHook()(text, caption, icon);
    return;
  }
  QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

MessageBoxHook setMessageBoxHook(MessageBoxHook hook) {
  return std::exchange(currentHook(), std::move(hook));
}

void showError(QWidget* parent, const std::exception& error) {
  showMessageBox(parent, QString::fromStdString(texts::ErrorText(error)), applicationTitle(),
                 QMessageBox::Critical);
}

}  // namespace loopmon::qt
