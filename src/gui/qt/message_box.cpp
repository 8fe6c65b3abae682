#include "gui/qt/message_box.h"

#include <utility>

namespace loopmon {

namespace {
MessageBoxHook& currentHook() {
  static MessageBoxHook hook;
  return hook;
}
}  // namespace

QString applicationTitle() {
  return QStringLiteral("Шлейфы MIVRA-QX");
}

void showMessageBox(QWidget* parent, const QString& text, const QString& caption,
                    QMessageBox::Icon icon) {
  if (currentHook()) {
    currentHook()(text, caption, icon);
    return;
  }
  QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
  box.exec();
}

MessageBoxHook setMessageBoxHook(MessageBoxHook hook) {
  return std::exchange(currentHook(), std::move(hook));
}

void showError(QWidget* parent, const std::exception& error) {
  showMessageBox(parent, QString::fromUtf8(error.what()), applicationTitle(),
                 QMessageBox::Critical);
}

}  // namespace loopmon
