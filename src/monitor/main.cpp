// loopmon: the desktop program.

#include <QApplication>

#include "monitor/message_box.h"
#include "monitor/u_kalibr.h"
#include "monitor/u_pasw.h"
#include "monitor/unit1.h"

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
