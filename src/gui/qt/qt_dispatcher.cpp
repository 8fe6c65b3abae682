#include "gui/qt/qt_dispatcher.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <utility>

namespace loopmon::qt {

void QtOwnerDispatcher::invokeSync(const std::function<void()>& call) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || QThread::currentThread() == app->thread()) {
    call();
    return;
  }
  QMetaObject::invokeMethod(
      app, [&call] { call(); }, Qt::BlockingQueuedConnection);
}

void QtOwnerDispatcher::post(std::function<void()> call) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || QThread::currentThread() == app->thread()) {
    call();
    return;
  }
  QMetaObject::invokeMethod(app, std::move(call), Qt::QueuedConnection);
}

}  // namespace loopmon::qt
