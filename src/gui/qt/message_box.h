#pragma once
// Every message box of the program goes through showMessageBox, so a test can
// take the boxes instead of the screen (setMessageBoxHook).

#include <QMessageBox>
#include <QString>
#include <exception>
#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace loopmon {
class FileFolders;
}

namespace loopmon::qt {

// The application title: captions the information boxes of the reading cycle
// and the boxes of the general error handler.
QString applicationTitle();

// A modal box with one OK button; every other window waits for it.
void showMessageBox(QWidget* parent, const QString& text, const QString& caption,
                    QMessageBox::Icon icon);

using MessageBoxHook =
    std::function<void(const QString& text, const QString& caption, QMessageBox::Icon icon)>;
// While a hook is set it receives every box instead of the screen; an empty
// hook brings the real boxes back. Returns the hook it replaced.
MessageBoxHook setMessageBoxHook(MessageBoxHook hook);

// The folders the file dialogs start in and remember (the main window's);
// none: they start where the toolkit likes.
void setFileFolders(FileFolders* folders);

// The toolkit's own save dialog in the window's words, offering `suggested`
// in the folder last used for its kind and files of `filter`
// (texts::CsvFiles) or any; nothing when cancelled.
std::optional<std::string> askSaveFile(QWidget* parent, const char* title,
                                       const std::string& suggested, const char* filter,
                                       const char* suffix);

// The toolkit's own open dialog in the window's words, for an existing file
// of `filter` or any, in the folder last used for files ending in `suffix`;
// nothing when cancelled.
std::optional<std::string> askOpenFile(QWidget* parent, const char* title, const char* filter,
                                       const char* suffix);

// The toolkit's own folder dialog in the window's words, starting in the
// folder last used for files ending in `suffix`; nothing when cancelled.
std::optional<std::string> askFolderPath(QWidget* parent, const char* title, const char* suffix);

// The application's general error handler: a failed conversion or computation
// shows its message and the rest of the handler does not run.
void showError(QWidget* parent, const std::exception& error);

template <class Body>
void runHandler(QWidget* parent, Body&& body) {
  try {
    body();
  } catch (const std::exception& error) {
    showError(parent, error);
  }
}

}  // namespace loopmon::qt
