// How long the main window's event loop goes without turning while the bus is
// busy: a 10 ms heartbeat timer records its worst lateness (a) during a full
// scan of the demo bus and (b) during a periodic reading of a device that stops
// answering half-way through a pass. The program runs on the offscreen
// platform against `loopsim pty`, through the real serial code.

#include <signal.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cstdio>

#include "gui/qt/main_window.h"
#include "gui/qt/search_dialog.h"
#include "loopsim_process.h"
#include "scoped_temp_dir.h"
#include "session/session.h"

using namespace loopmon;
using namespace loopmon::qt;

namespace {

constexpr int HeartbeatMs = 10;

// The worst lateness of a 10 ms timer while it runs.
class Heartbeat {
 public:
  Heartbeat() {
    timer_.setInterval(HeartbeatMs);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const qint64 gap = clock_.restart();
      worstMs_ = std::max(worstMs_, gap - HeartbeatMs);
    });
  }
  void start() {
    worstMs_ = 0;
    clock_.start();
    timer_.start();
  }
  qint64 stop() {
    timer_.stop();
    return worstMs_;
  }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 worstMs_ = 0;
};

template <class T>
T* control(const QObject* window, const char* name) {
  return window->findChild<T*>(QString::fromLatin1(name));
}

// Lets the event loop run until `done` holds or `limitMs` has passed.
bool waitFor(const std::function<bool()>& done, int limitMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > limitMs) return false;
    QTest::qWait(20);
  }
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  testing::ScopedTempDir folder;
  testing::ScopedEnv runtime("XDG_RUNTIME_DIR", folder.file("run"));
  testing::ScopedEnv config("XDG_CONFIG_HOME", folder.file("config"));
  qputenv("QT_QPA_PLATFORM", "offscreen");
  testing::LoopsimProcess loopsim(LOOPSIM_PATH, {"pty", "--link", folder.file("tty")});
  for (std::string line = loopsim.readLine(); line.rfind("loopsim: linked as", 0) != 0;
       line = loopsim.readLine()) {
    if (line.empty()) {
      std::fprintf(stderr, "window_stall_bench: loopsim did not start\n");
      return 1;
    }
  }

  QApplication app(argc, argv);
  MainWindow window(Platform::system(),
                    Desktop::Files{folder.file("ohmgauge.kft"), folder.file("pcom.ini")});
  window.session().SetPortPath(folder.file("tty"));
  window.show();
  Heartbeat heartbeat;

  // (a) A full scan, then device 5 chosen.
  qint64 scanWorstMs = -1;
  QElapsedTimer scanClock;
  QTimer::singleShot(0, [&] {
    QDialog* dialog = &window.searchDialog();
    auto* button = control<QPushButton>(dialog, "searchButton");
    heartbeat.start();
    scanClock.start();
    QTest::mouseClick(button, Qt::LeftButton);
    waitFor([&] { return button->text() == QStringLiteral("Поиск"); }, 600000);
    scanWorstMs = heartbeat.stop();
    control<QListWidget>(dialog, "deviceList")->setCurrentRow(1);
    QTest::mouseClick(control<QPushButton>(dialog, "chooseButton"), Qt::LeftButton);
  });
  QTest::mouseClick(control<QToolButton>(&window, "searchButton"), Qt::LeftButton);
  const double scanS = scanClock.elapsed() / 1000.0;
  if (!waitFor([&] { return window.device().DevAddr == 5; }, 10000)) {
    std::fprintf(stderr, "window_stall_bench: device 5 was not found\n");
    return 1;
  }

  // (b) Periodic reading; the line falls silent once loop 10 is being read.
  auto* periodic = control<QToolButton>(&window, "periodicButton");
  heartbeat.start();
  QTest::mouseClick(periodic, Qt::LeftButton);
  waitFor([&] { return window.windowTitle().endsWith(QStringLiteral("№10")); }, 60000);
  loopsim.pause();
  waitFor([&] { return window.windowTitle().endsWith(QStringLiteral("№13")); }, 120000);
  const qint64 readingWorstMs = heartbeat.stop();
  QTest::mouseClick(periodic, Qt::LeftButton);

  std::printf("window stall, worst lateness of a %d ms heartbeat (goal: at most 50 ms)\n",
              HeartbeatMs);
  std::printf("  full scan of the demo bus (%.1f s):             %lld ms\n", scanS,
              static_cast<long long>(scanWorstMs));
  std::printf("  periodic reading, device silent from loop 10: %lld ms\n",
              static_cast<long long>(readingWorstMs));
  loopsim.kill();
  return 0;
}
