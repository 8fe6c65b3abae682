// loopmon: the desktop program.

#include <QApplication>
#include <exception>
#include <memory>

#include "gui/qt/calibration_dialog.h"
#include "gui/qt/main_window.h"
#include "gui/qt/message_box.h"
#include "gui/qt/password_dialog.h"
#include "gui/qt/translations.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(loopmon::qt::applicationTitle());
  loopmon::qt::installQtTranslations();
  // The main window ends the program when it closes, also while the
  // calibration dialog is still open.
  QApplication::setQuitOnLastWindowClosed(false);

  std::unique_ptr<loopmon::qt::MainWindow> mainWindow;
  try {
    mainWindow = std::make_unique<loopmon::qt::MainWindow>();
  } catch (const std::exception& error) {
    // A line setting the session cannot work with: say which, and end.
    loopmon::qt::showError(nullptr, error);
    return 1;
  }
  loopmon::qt::CalibrationDialog calibrationDialog([&] { return mainWindow->device(); },
                                                   mainWindow->coefficientsStore());
  loopmon::qt::PasswordDialog passwordDialog(calibrationDialog);
  mainWindow->setPasswordDialog(&passwordDialog);
  mainWindow->show();
  return QApplication::exec();
}
