#pragma once
// What the window tests share: a private environment (runtime and config
// folders of their own, the offscreen platform), a `loopsim serve` process to
// run the session against, and a capture of the message boxes.

#include <QMessageBox>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <vector>

namespace loopmon::testing {

// Points XDG_RUNTIME_DIR and XDG_CONFIG_HOME at fresh folders (markers, the
// simulator socket, the registry store) and picks the offscreen platform
// unless one is set. Call before the QApplication is made.
class PrivateEnvironment {
 public:
  PrivateEnvironment();
  QString path(const QString& name) const { return dir_.filePath(name); }

 private:
  QTemporaryDir dir_;
};

// `loopsim serve` with its demo bus; running once the constructor returns
// true from started(), stopped by the destructor.
class SimulatorServer {
 public:
  explicit SimulatorServer(const QString& program);
  ~SimulatorServer();
  bool started() const { return started_; }
  QString output() const { return output_; }

 private:
  QProcess process_;
  QString output_;
  bool started_ = false;
};

struct CapturedBox {
  QString text;
  QString caption;
  QMessageBox::Icon icon;
};

// Takes every message box while it lives.
class BoxCapture {
 public:
  BoxCapture();
  ~BoxCapture();
  std::vector<CapturedBox> boxes;
  QStringList texts() const;
};

}  // namespace loopmon::testing
