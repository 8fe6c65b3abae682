// A loop's history in the program's windows, against `loopsim serve` playing
// a scenario whose loop 3 of device 9 steps into open and short now and then:
// the moved mark, the row's context menu beside the press/drag marking, and
// the history window with its figures and its CSV file.

#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <fstream>
#include <functional>
#include <sstream>

#include "gui/qt/history_window.h"
#include "gui/qt/loop_grid.h"
#include "gui/qt/main_window.h"
#include "gui/qt/message_box.h"
#include "gui/qt/search_dialog.h"
#include "session/session.h"

using namespace loopmon;

namespace {

constexpr int PassTimeoutMs = 60000;
constexpr uint8_t Address = 9;
constexpr int ScriptedLoop = 3;
const std::vector<int> Script{96, 45, 0, 96, 255, 45, 96};
const char* const ScriptedBus =
    "[bus]\ndrift = no\n"
    "[device 9]\ntype = 1\nversion = 160\nloop.3 = script 96 45 0 96 255 45 96\n";

// Moves between open, short and neither over the script's first `readings`.
int movesOf(size_t readings) {
  auto condition = [](size_t i) {
    const int adc = Script[i % Script.size()];
    return adc == 0 ? 1 : adc == 255 ? 2 : 0;
  };
  int moves = 0;
  for (size_t i = 1; i < readings; ++i) moves += condition(i) != condition(i - 1);
  return moves;
}

template <class T>
T* control(const QObject* window, const char* name) {
  T* found = window->findChild<T*>(QString::fromLatin1(name));
  if (found == nullptr) qFatal("no control %s", name);
  return found;
}

}  // namespace

class HistoryTest : public QObject {
  Q_OBJECT
 public:
  explicit HistoryTest(const QTemporaryDir& dir) : dir_(dir) {}

 private slots:
  void initTestCase() {
    std::ofstream(path("bus.ini")) << ScriptedBus;
    server_.setProcessChannelMode(QProcess::MergedChannels);
    server_.start(QStringLiteral(LOOPSIM_PATH),
                  {QStringLiteral("serve"), QStringLiteral("--scenario"),
                   QString::fromStdString(path("bus.ini"))});
    QByteArray output;
    while (!output.contains("serving on") && server_.waitForReadyRead(20000)) {
      output += server_.readAll();
    }
    QVERIFY2(output.contains("serving on"), output.constData());
    window_ = std::make_unique<MainWindow>(
        Platform::system(), MainWindow::Files{path("ohmgauge.kft"), path("pcom.ini")});
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    chooseDevice();
  }
  void cleanupTestCase() {
    window_.reset();
    server_.terminate();
    server_.waitForFinished();
  }

  void aPeriodicReadingMarksTheLoopThatMoved() {
    // Loops 1, 2 and 3 are read; 4 to 20 are skipped.
    QTest::mousePress(grid()->viewport(), Qt::LeftButton, {}, centre(0, 4));
    QTest::mouseRelease(grid()->viewport(), Qt::LeftButton, {}, centre(0, 20));
    control<QSpinBox>(window_.get(), "periodField")->setValue(1);
    QTest::mouseClick(tool("periodicButton"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(readings() >= 6, PassTimeoutMs);
    QTest::mouseClick(tool("periodicButton"), Qt::LeftButton);
    QTRY_VERIFY(!window_->model().reading());

    const auto loop = summary();
    QVERIFY(loop.has_value());
    QCOMPARE(loop->moves, movesOf(loop->readings));
    QCOMPARE(loop->Into(LoopCondition::Open), 1);
    QCOMPARE(loop->Into(LoopCondition::Short), loop->readings >= 5 ? 1 : 0);
    for (int row = 1; row <= 20; ++row) {
      QCOMPARE(grid()->moved(row), row == ScriptedLoop);
      QCOMPARE(window_->model().moved(row), row == ScriptedLoop);
    }
    // The corner of the moved loop's number cell is drawn, a steady one's is not.
    const QImage shot = grid()->viewport()->grab().toImage();
    auto corner = [&](int row) {
      const QRect cell = grid()->cellRect(0, row);
      return shot.pixelColor(cell.right() - 1, cell.top() + 1);
    };
    QVERIFY(corner(ScriptedLoop) != corner(1));
    QCOMPARE(corner(2), corner(1));
  }

  // A right press opens the row's menu and leaves every mark as it was, and
  // the release after it paints nothing.
  void theContextMenuLeavesTheMarksAlone() {
    const std::vector<int> before = marks();
    QMenu* menu = loopMenu();
    const struct {
      int row;
      bool menuShown;
      bool historyOffered;
    } cases[] = {{ScriptedLoop, true, true}, {1, true, true}, {7, true, false}, {0, false, false}};
    for (const auto& c : cases) {
      // Through the window system, which turns a right press into the
      // context menu's request as the desktop does.
      QTest::mousePress(window_->windowHandle(), Qt::RightButton, {}, inWindow(0, c.row));
      QTRY_COMPARE(menu->isVisible(), c.menuShown);
      if (c.menuShown) {
        QCOMPARE(historyAction()->isEnabled(), c.historyOffered);
        menu->hide();
      }
      QTest::mouseRelease(window_->windowHandle(), Qt::RightButton, {}, inWindow(0, c.row));
      QTest::mouseRelease(grid()->viewport(), Qt::LeftButton, {}, centre(0, 12));
      QCOMPARE(marks(), before);
    }
    // The marking still works as before.
    QTest::mousePress(grid()->viewport(), Qt::LeftButton, {}, centre(0, 2));
    QTest::mouseRelease(grid()->viewport(), Qt::LeftButton, {}, centre(0, 1));
    QCOMPARE(grid()->mark(1) + grid()->mark(2), 2);
    QTest::mousePress(grid()->viewport(), Qt::LeftButton, {}, centre(0, 2));
    QTest::mouseRelease(grid()->viewport(), Qt::LeftButton, {}, centre(0, 1));
    QCOMPARE(marks(), before);
  }

  void theHistoryWindowShowsTheLoopAndSavesItsCsv() {
    HistoryWindow* history = nullptr;
    openHistory(ScriptedLoop, history);
    QVERIFY(history != nullptr && history->isVisible());
    QCOMPARE(history->windowTitle(), QStringLiteral("История шлейфа 3 — адрес 9"));
    HistoryWindow* again = nullptr;
    openHistory(ScriptedLoop, again);
    QCOMPARE(again, history);
    const LoopSummary loop = *summary();
    const QString separator(QChar::fromLatin1(userDecimalSeparator()));
    auto expect = [&](const char* name, QString prefix, double kiloOhms) {
      const QString text = control<QLabel>(history, name)->text();
      const QString value = QString::number(kiloOhms, 'f', 1).replace('.', separator);
      QVERIFY2(text.startsWith(prefix + value + QStringLiteral(" кОм (")), qPrintable(text));
    };
    expect("minimumLabel", QStringLiteral("Минимум: "), loop.minimum->kiloOhms);
    expect("maximumLabel", QStringLiteral("Максимум: "), loop.maximum->kiloOhms);
    QCOMPARE(control<QLabel>(history, "movesLabel")->text(),
             QStringLiteral("Переходов: %1").arg(loop.moves));

    // A further reading shows within the window's refresh.
    QTest::mouseClick(control<QPushButton>(window_.get(), "readButton"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(readings() == loop.readings + 1 && !window_->model().reading(),
                             PassTimeoutMs);
    const int moves = summary()->moves;
    QTRY_COMPARE_WITH_TIMEOUT(control<QLabel>(history, "movesLabel")->text(),
                              QStringLiteral("Переходов: %1").arg(moves),
                              2 * HistoryWindow::RefreshMs + 500);

    std::ostringstream expected;
    window_->model().history().WriteCsv(expected, LoopKey{Address, ScriptedLoop});
    const struct {
      const char* name;
      QString path;
      bool saved;
    } cases[] = {
        {"a new file", QString::fromStdString(path("loop 3 new.csv")), true},
        {"over an older file", QString::fromStdString(path("loop 3.csv")), true},
        {"cancelled", QString(), false},
        {"into a folder that does not exist", QString::fromStdString(path("none/loop.csv")), false},
    };
    std::ofstream(path("loop 3.csv")) << "older";
    for (const auto& c : cases) {
      QStringList boxes;
      const MessageBoxHook kept = setMessageBoxHook(
          [&](const QString& text, const QString&, QMessageBox::Icon) { boxes << text; });
      history->chooseCsvPath = [&] { return c.path; };
      QTest::mouseClick(control<QPushButton>(history, "saveButton"), Qt::LeftButton);
      setMessageBoxHook(kept);
      if (c.saved) {
        QFile file(c.path);
        QVERIFY2(file.open(QIODevice::ReadOnly), c.name);
        QCOMPARE(file.readAll().toStdString(), expected.str());
        QVERIFY2(boxes.isEmpty(), c.name);
      } else if (!c.path.isEmpty()) {
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes.front().startsWith(QStringLiteral("Не удалось сохранить файл ") + c.path),
                 qPrintable(boxes.front()));
        QVERIFY(!QFile::exists(c.path));
      } else {
        QVERIFY2(boxes.isEmpty(), c.name);
      }
    }
    history->close();
    QTRY_VERIFY(window_->findChildren<HistoryWindow*>().isEmpty());
  }

 private:
  void chooseDevice() {
    // A device known to the session is checked when the dialog opens: no scan.
    window_->session().SetDeviceType(Address, 1);
    window_->session().DeviceVersions[Address] = 160;
    QDialog* d = window_->searchDialog().window();
    QTimer::singleShot(0, this, [&] {
      QTRY_COMPARE_WITH_TIMEOUT(control<QListWidget>(d, "deviceList")->count(), 1, PassTimeoutMs);
      QTest::mouseClick(control<QPushButton>(d, "chooseButton"), Qt::LeftButton);
      if (d->isVisible()) d->close();
    });
    QTest::mouseClick(tool("searchButton"), Qt::LeftButton);
    QTRY_COMPARE(window_->device().DevAddr, Address);
    QCOMPARE(grid()->rowCount(), 21);
  }
  // Through the row's context menu; one window per loop.
  void openHistory(int row, HistoryWindow*& opened) {
    QContextMenuEvent event(QContextMenuEvent::Mouse, centre(0, row),
                            grid()->viewport()->mapToGlobal(centre(0, row)));
    QApplication::sendEvent(grid()->viewport(), &event);
    QTRY_VERIFY(loopMenu()->isVisible());
    QTest::mouseClick(loopMenu(), Qt::LeftButton, {},
                      loopMenu()->actionGeometry(historyAction()).center());
    QTRY_COMPARE(window_->findChildren<HistoryWindow*>().size(), 1);
    opened = window_->findChildren<HistoryWindow*>().front();
  }
  std::optional<LoopSummary> summary() const {
    return window_->model().history().Summary({Address, ScriptedLoop});
  }
  size_t readings() const { return summary() ? summary()->readings : 0; }
  std::vector<int> marks() const {
    std::vector<int> all;
    for (int row = 0; row < grid()->rowCount(); ++row) all.push_back(grid()->mark(row));
    return all;
  }
  QMenu* loopMenu() const { return control<QMenu>(window_.get(), "loopMenu"); }
  QAction* historyAction() const { return control<QAction>(loopMenu(), "historyAction"); }
  QToolButton* tool(const char* name) const { return control<QToolButton>(window_.get(), name); }
  QPoint centre(int col, int row) const { return grid()->cellRect(col, row).center(); }
  QPoint inWindow(int col, int row) const {
    return grid()->viewport()->mapTo(window_.get(), centre(col, row));
  }
  LoopGrid* grid() const { return control<LoopGrid>(window_.get(), "loopTable"); }
  std::string path(const char* name) const {
    return dir_.filePath(QString::fromLatin1(name)).toStdString();
  }

  const QTemporaryDir& dir_;
  QProcess server_;
  std::unique_ptr<MainWindow> window_;
};

int main(int argc, char* argv[]) {
  // Markers, the simulator socket, the registry store and the program's files
  // in a folder of the test's own.
  QTemporaryDir dir;
  qputenv("XDG_RUNTIME_DIR", dir.path().toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  HistoryTest test(dir);
  return QTest::qExec(&test, argc, argv);
}

#include "history_window_test.moc"
