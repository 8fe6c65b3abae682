// loopmon: the desktop program.

#include <QApplication>

#include "gui/qt/message_box.h"
#include "gui/qt/calibration_dialog.h"
#include "gui/qt/password_dialog.h"
#include "gui/qt/main_window.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(loopmon::applicationTitle());
  // The main window ends the program when it closes, also while the
  // calibration dialog is still open.
  QApplication::setQuitOnLastWindowClosed(false);

  loopmon::TForm1 Form1;
  loopmon::TfrmKalibr frmKalibr([&Form1] { return Form1.Device(); }, Form1.coefficientsStore());
  loopmon::TfrmPassword frmPassword(frmKalibr);
  Form1.setPasswordDialog(&frmPassword);
  Form1.show();
  return QApplication::exec();
}
