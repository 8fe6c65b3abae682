#include "gui_test_support.h"

#include <QDeadlineTimer>
#include <QDir>

#include "monitor/message_box.h"

namespace loopmon::testing {

PrivateEnvironment::PrivateEnvironment() {
  const QString runtime = dir_.filePath(QStringLiteral("run"));
  const QString config = dir_.filePath(QStringLiteral("config"));
  QDir().mkpath(runtime);
  QDir().mkpath(config);
  QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", config.toLocal8Bit());
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
}

SimulatorServer::SimulatorServer(const QString& program) {
  process_.setProcessChannelMode(QProcess::MergedChannels);
  process_.start(program, {QStringLiteral("serve")});
  const QDeadlineTimer deadline(20000);
  while (!deadline.hasExpired() && process_.state() != QProcess::NotRunning) {
    process_.waitForReadyRead(200);
    output_ += QString::fromLocal8Bit(process_.readAll());
    if (output_.contains(QStringLiteral("serving on"))) {
      started_ = true;
      return;
    }
  }
}

SimulatorServer::~SimulatorServer() {
  if (process_.state() == QProcess::NotRunning) return;
  process_.terminate();
  if (!process_.waitForFinished(5000)) {
    process_.kill();
    process_.waitForFinished(5000);
  }
}

BoxCapture::BoxCapture() {
  setMessageBoxHook([this](const QString& text, const QString& caption, QMessageBox::Icon icon) {
    boxes.push_back({text, caption, icon});
  });
}

BoxCapture::~BoxCapture() {
  setMessageBoxHook({});
}

QStringList BoxCapture::texts() const {
  QStringList result;
  for (const CapturedBox& box : boxes) result << box.text;
  return result;
}

}  // namespace loopmon::testing
