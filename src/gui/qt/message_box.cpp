#include "gui/qt/message_box.h"

#include <QFileDialog>
#include <utility>

#include "desktop/file_folders.h"
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

namespace {

FileFolders*& currentFolders() {
  static FileFolders* folders = nullptr;
  return folders;
}

// The file dialog in the window's words; `save` asks for a file to write.
std::optional<std::string> askFile(QWidget* parent, const char* title, const std::string& suggested,
                                   const char* filter, const char* suffix, bool save) {
  FileFolders* folders = currentFolders();
  const std::string start = !folders ? suggested
                            : save   ? folders->suggest(suggested)
                                     : folders->folderFor(suffix);
  QFileDialog dialog(
      parent, QString::fromUtf8(title), QString::fromStdString(start),
      QString::fromUtf8(filter) + QStringLiteral(";;") + QString::fromUtf8(texts::AllFiles));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(QString::fromUtf8(suffix));
  dialog.setLabelText(QFileDialog::Accept,
                      QString::fromUtf8(save ? texts::SaveButton : texts::OpenButton));
  dialog.setLabelText(QFileDialog::Reject, QString::fromUtf8(texts::Cancel));
  dialog.setLabelText(QFileDialog::FileName, QString::fromUtf8(texts::FileNameLabel));
  dialog.setLabelText(QFileDialog::FileType, QString::fromUtf8(texts::FileTypeLabel));
  dialog.setLabelText(QFileDialog::LookIn, QString::fromUtf8(texts::FolderLabel));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  const std::string chosen = dialog.selectedFiles().front().toStdString();
  if (folders) folders->remember(chosen);
  return chosen;
}

}  // namespace

void setFileFolders(FileFolders* folders) {
  currentFolders() = folders;
}

std::optional<std::string> askSaveFile(QWidget* parent, const char* title,
                                       const std::string& suggested, const char* filter,
                                       const char* suffix) {
  return askFile(parent, title, suggested, filter, suffix, true);
}

std::optional<std::string> askOpenFile(QWidget* parent, const char* title, const char* filter,
                                       const char* suffix) {
  return askFile(parent, title, {}, filter, suffix, false);
}

std::optional<std::string> askFolderPath(QWidget* parent, const char* title, const char* suffix) {
  FileFolders* folders = currentFolders();
  QFileDialog dialog(parent, QString::fromUtf8(title),
                     QString::fromStdString(folders ? folders->folderFor(suffix) : std::string()));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setLabelText(QFileDialog::Accept, QString::fromUtf8(texts::OpenButton));
  dialog.setLabelText(QFileDialog::Reject, QString::fromUtf8(texts::Cancel));
  dialog.setLabelText(QFileDialog::FileName, QString::fromUtf8(texts::FolderLabel));
  dialog.setLabelText(QFileDialog::LookIn, QString::fromUtf8(texts::FolderLabel));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front().toStdString();
}

void showError(QWidget* parent, const std::exception& error) {
  showMessageBox(parent, QString::fromStdString(texts::ErrorText(error)), applicationTitle(),
                 QMessageBox::Critical);
}

}  // namespace loopmon::qt
