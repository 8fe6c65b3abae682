// A user's session with the program's windows against `loopsim serve` and its
// demo bus (type 1 at 5, type 2 at 12, type 4 at 20, type 11 at 63, type 9 at
// 127), the controls found by their object names. The slots run in order on
// one main window, as a user's session would.

#include <signal.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <functional>
#include <sstream>

#include "common/number_text.h"
#include "desktop/password_dialog_model.h"
#include "fake_platform.h"
#include "gui/qt/calibration_dialog.h"
#include "gui/qt/history_window.h"
#include "gui/qt/loop_table.h"
#include "gui/qt/main_window.h"
#include "gui/qt/message_box.h"
#include "gui/qt/note_list.h"
#include "gui/qt/password_dialog.h"
#include "gui/qt/search_dialog.h"
#include "gui/qt/site_history_window.h"
#include "gui/qt/survey_window.h"
#include "gui/qt/toggle_panel.h"
#include "gui/qt/traffic_window.h"
#include "loops/loop_decode.h"
#include "platform/serial/port_names.h"
#include "platform/store/profile_file.h"
#include "record/site_record.h"
#include "scoped_temp_dir.h"
#include "session/session.h"
#include "transport/bus_state.h"
#include "transport/line_settings.h"

using namespace loopmon;
using namespace loopmon::qt;

namespace {

constexpr int ScanTimeoutMs = 120000;
constexpr int PassTimeoutMs = 60000;

// Takes every message box while it lives, as "caption: text".
struct BoxCapture {
  BoxCapture() {
    setMessageBoxHook([this](const QString& text, const QString& caption, QMessageBox::Icon) {
      boxes << caption + QStringLiteral(": ") + text;
    });
  }
  ~BoxCapture() { setMessageBoxHook({}); }
  QStringList boxes;
};

template <class T>
T* control(const QObject* window, const char* name) {
  T* found = window->findChild<T*>(QString::fromLatin1(name));
  if (found == nullptr) qFatal("no control %s", name);
  return found;
}

}  // namespace

class SessionTest : public QObject {
  Q_OBJECT
 public:
  explicit SessionTest(const QTemporaryDir& dir) : dir_(dir) {}

 private slots:
  void initTestCase() {
    startServer();
    window_ = std::make_unique<MainWindow>(Platform::system(),
                                           Desktop::Files{path("ohmgauge.kft"), path("pcom.ini")});
    calibration_ = std::make_unique<CalibrationDialog>([this] { return window_->device(); },
                                                       window_->coefficientsStore());
    password_ = std::make_unique<PasswordDialog>(*calibration_);
    window_->setPasswordDialog(password_.get());
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }
  void cleanupTestCase() {
    window_.reset();
    server_.terminate();
    server_.waitForFinished();
  }

  void everyCloseOfTheSearchReturnsZeroWithoutARequest() {
    QVERIFY(ProfileFile(path("pcom.ini")).writeString("Port", "Num", "3"));
    const std::function<void(QDialog*)> closings[] = {
        [](QDialog* d) {
          QTest::mouseClick(control<QPushButton>(d, "cancelButton"), Qt::LeftButton);
        },
        [](QDialog* d) { QTest::keyClick(control<QListView>(d, "deviceList"), Qt::Key_Escape); },
        [](QDialog* d) { d->close(); }};
    // The quick search's option: off at first, then chosen and remembered,
    // then put off again.
    const int quickKept[] = {1, 0, 0};
    for (size_t n = 0; n < std::size(closings); ++n) {
      search([&](QDialog* d) {
        QCOMPARE(control<QComboBox>(d, "portSelector")->currentIndex(), 3);
        QCOMPARE(control<QListView>(d, "deviceList")->model()->rowCount(), 0);
        // Enter in the empty list keeps the dialog open.
        QTest::keyClick(control<QListView>(d, "deviceList"), Qt::Key_Return);
        QVERIFY(d->isVisible());
        auto* quick = control<QCheckBox>(d, "quickOption");
        QCOMPARE(quick->isChecked(), n == 1);
        if (n < 2) QTest::mouseClick(quick, Qt::LeftButton, {}, QPoint(6, quick->height() / 2));
        closings[n](d);
        QVERIFY(!d->isVisible());
      });
      QCOMPARE(window_->device().DevAddr, uint8_t{0});
      QCOMPARE(ProfileFile(path("pcom.ini")).readInt("Search", "Quick", -1), quickKept[n]);
    }
  }

  void searchAndChooseATypeOneDevice() {
    search([&](QDialog* d) {
      auto* list = control<QListView>(d, "deviceList");
      QTest::mouseClick(control<QPushButton>(d, "searchButton"), Qt::LeftButton);
      // The traffic window opens from the table's menu while the scan runs.
      control<QAction>(window_.get(), "trafficAction")->trigger();
      QTRY_COMPARE_WITH_TIMEOUT(control<QPushButton>(d, "searchButton")->text(),
                                QStringLiteral("Поиск"), ScanTimeoutMs);
      QStringList lines;
      for (int row = 0; row < list->model()->rowCount(); ++row) {
        lines << list->model()->index(row, 0).data().toString();
      }
      // The versions' decimal separator is the locale's.
      lines.replaceInStrings(QStringLiteral(","), QStringLiteral("."));
      QCOMPARE(lines, (QStringList{QStringLiteral("Адрес: 127  Hovra-Y (версия  1.01)"),
                                   QStringLiteral("Адрес:   5  Mivra-Q (версия  1.05)"),
                                   QStringLiteral("Адрес:  12  Mivra-QX (версия  1.10)"),
                                   QStringLiteral("Адрес:  20  Hovra-J (версия  1.02)"),
                                   QStringLiteral("Адрес:  63  Mivra-QW (версия  1.05)")}));
      list->setCurrentIndex(list->model()->index(1, 0));
      QTest::mouseClick(control<QPushButton>(d, "chooseButton"), Qt::LeftButton);
    });
    QTRY_COMPARE(window_->device().DevAddr, uint8_t{5});
    QVERIFY(control<QLabel>(window_.get(), "deviceLabel")
                ->text()
                .startsWith(QStringLiteral("Адрес:   5")));
    QVERIFY(button("readButton")->isEnabled() && tool("periodicButton")->isEnabled());
    QCOMPARE(loops().rowCount(), 21);
  }

  void readOnceInBothViews() {
    readOnce();
    const Coefficients c = window_->model().readingCycle().UsedCoefficients();
    QCOMPARE(c.a, 408.0);
    QCOMPARE(c.b, -1.0);
    QCOMPARE(cell(2, 3), QStringLiteral("Обрыв"));
    for (int row = 1; row < 21; ++row) QVERIFY(!cell(2, row).isEmpty());

    QTest::mouseClick(control<TogglePanel>(window_.get(), "stateViewToggle"), Qt::LeftButton);
    readOnce();
    QCOMPARE(cell(1, 7), QStringLiteral("отключен"));
    QCOMPARE(cell(1, 12), QStringLiteral("не на охране"));
    for (int row = 1; row < 21; ++row) QCOMPARE(cell(2, row), QString());
    QTest::mouseClick(control<TogglePanel>(window_.get(), "adcViewToggle"), Qt::LeftButton);
  }

  void markedLoopsAreNotRead() {
    clickNumber(2);
    QTest::mousePress(grid()->viewport(), Qt::LeftButton, {}, centre(0, 10));
    QTest::mouseRelease(grid()->viewport(), Qt::LeftButton, {}, centre(1, 12));
    readOnce();
    for (int row : {2, 10, 11, 12}) {
      QCOMPARE(cell(0, row), QString::number(row));
      QCOMPARE(cell(1, row) + cell(2, row), QString());
    }
    QVERIFY(!cell(1, 9).isEmpty() && !cell(1, 13).isEmpty());
    for (int row : {2, 10, 11, 12}) clickNumber(row);
  }

  void periodicReadingRepeatsUntilReleased() {
    control<QSpinBox>(window_.get(), "periodField")->setValue(1);
    QTest::mouseClick(tool("periodicButton"), Qt::LeftButton);
    QVERIFY(!button("readButton")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(window_->model().waitingBetweenPasses(), PassTimeoutMs);
    // The next pass starts after the period and keeps the values meanwhile.
    QVERIFY(!cell(1, 20).isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!window_->model().waitingBetweenPasses(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(window_->model().waitingBetweenPasses(), PassTimeoutMs);
    // A release during the wait: no further tick.
    QTest::mouseClick(tool("periodicButton"), Qt::LeftButton);
    QVERIFY(button("readButton")->isEnabled());
    QVERIFY(!window_->model().reading());
    const QString caption = window_->windowTitle();
    QTest::qWait(1500);
    QCOMPARE(window_->windowTitle(), caption);
  }

  // The loops read so far: a right press (through the window system, which
  // asks for the context menu as the desktop does) opens the row's menu and
  // flips no mark; its item opens the loop's history window.
  void aLoopsHistoryOpensFromItsRowMenu() {
    std::vector<bool> marks;
    for (int row = 1; row < 21; ++row) {
      QCOMPARE(loops().moved(row), window_->model().moved(row));
      marks.push_back(loops().marked(row));
    }
    auto* menu = control<QMenu>(window_.get(), "loopMenu");
    auto* item = control<QAction>(menu, "historyAction");
    const QPoint row4 = grid()->viewport()->mapTo(window_.get(), centre(0, 4));
    QTest::mousePress(window_->windowHandle(), Qt::RightButton, {}, row4);
    QTRY_VERIFY(menu->isVisible());
    QTest::mouseRelease(window_->windowHandle(), Qt::RightButton, {}, row4);
    for (int row = 1; row < 21; ++row)
      QCOMPARE(loops().marked(row), static_cast<bool>(marks[row - 1]));
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
    QTRY_COMPARE(window_->findChildren<HistoryWindow*>().size(), 1);
    HistoryWindow* history = window_->findChildren<HistoryWindow*>().front();
    QCOMPARE(history->windowTitle(), QStringLiteral("История шлейфа 4 — адрес 5"));

    // The figures follow the loop's history, also after a further reading.
    auto moves = [&] {
      return control<QLabel>(history, "movesLabel")->text() ==
             QStringLiteral("Переходов: %1").arg(window_->model().history().Summary({5, 4})->moves);
    };
    QVERIFY(moves());
    QVERIFY(
        control<QLabel>(history, "minimumLabel")->text().startsWith(QStringLiteral("Минимум: ")));
    readOnce();
    QTRY_VERIFY_WITH_TIMEOUT(moves(), 2 * HistoryWindowModel::RefreshMs + 500);

    // Saved whole over an older file; a failed save is one box and no file.
    const std::string expected = history->model().csv();
    const struct {
      const char* name;
      bool saved;
    } saves[] = {{"loop.csv", true}, {"none/loop.csv", false}};
    for (const auto& save : saves) {
      const QString file = QString::fromStdString(path(save.name));
      QFile(file).open(QIODevice::WriteOnly);
      BoxCapture boxes;
      history->chooseCsvPath = [&] { return file; };
      QTest::mouseClick(control<QPushButton>(history, "saveButton"), Qt::LeftButton);
      QCOMPARE(boxes.boxes.size(), save.saved ? 0 : 1);
      QFile saved(file);
      QCOMPARE(saved.open(QIODevice::ReadOnly), save.saved);
      QCOMPARE(saved.readAll().toStdString(), save.saved ? expected : "");
    }
    history->close();
    QTRY_VERIFY(window_->findChildren<HistoryWindow*>().isEmpty());
  }

  // The traffic window opened during the scan: it shows the scan's exchanges
  // and counters, filters by address, stands still while paused through a
  // reading, and saves what it shows with the counters, and as a capture.
  void theTrafficWindowShowsTheScanFiltersPausesAndSaves() {
    QTRY_COMPARE(window_->findChildren<TrafficWindow*>().size(), 1);
    TrafficWindow* traffic = window_->findChildren<TrafficWindow*>().front();
    QCOMPARE(traffic->windowTitle(), QStringLiteral("Обмен по шине"));
    auto* list = control<QListWidget>(traffic, "traceList");
    const auto lines = [&] {
      QStringList texts;
      for (int row = 0; row < list->count(); ++row) texts << list->item(row)->text();
      return texts;
    };
    auto* counters = control<QListWidget>(traffic, "countersList");
    QTRY_VERIFY(!counters->findItems(QStringLiteral(" 100 "), Qt::MatchStartsWith).isEmpty());
    QTest::keyClicks(control<QLineEdit>(traffic, "filterField"), QStringLiteral("5"));
    QVERIFY(lines().size() > 0);
    QCOMPARE(lines().filter(QStringLiteral(" адрес 5 ")).size() +
                 lines().filter(QStringLiteral("обмен: ")).size(),
             lines().size());
    auto* pause = control<QPushButton>(traffic, "pauseButton");
    QTest::mouseClick(pause, Qt::LeftButton);
    QCOMPARE(pause->text(), QStringLiteral("Продолжить"));
    const QStringList before = lines();
    readOnce();
    QTest::qWait(2 * TrafficWindowModel::RefreshMs);
    QCOMPARE(lines(), before);
    QTest::mouseClick(pause, Qt::LeftButton);
    QVERIFY(lines() != before);
    QVERIFY(list->verticalScrollBar()->value() == list->verticalScrollBar()->maximum());

    const QString file = QString::fromStdString(path("traffic.txt"));
    traffic->chooseTextPath = [&] { return file; };
    QTest::mouseClick(control<QPushButton>(traffic, "saveButton"), Qt::LeftButton);
    QFile saved(file);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll().toStdString(), traffic->model().text());
    const QString capture = QString::fromStdString(path("traffic.pcapng"));
    traffic->chooseCapturePath = [&] { return capture; };
    QTest::mouseClick(control<QPushButton>(traffic, "saveCaptureButton"), Qt::LeftButton);
    QFile savedCapture(capture);
    QVERIFY(savedCapture.open(QIODevice::ReadOnly));
    QCOMPARE(savedCapture.readAll().toStdString(), traffic->model().capture());
    // Its picture stays in the build folder, to be looked at.
    QVERIFY(traffic->grab().save(QStringLiteral("traffic_window.png")));
    traffic->close();
    QTRY_VERIFY(window_->findChildren<TrafficWindow*>().isEmpty());
    QCOMPARE(window_->session().Trace().active(), nullptr);
  }

  // The devices found, surveyed from the table's menu while the window stays
  // usable; the record saved with its page, compared with an earlier one that
  // differs in a loop of 20 and one of 5; each change chooses its device and loop.
  void theSurveySavesComparesAndChoosesALoop() {
    control<QAction>(window_.get(), "surveyAction")->trigger();
    SurveyWindow* survey = window_->surveyWindow();
    QVERIFY(survey != nullptr && survey->isVisible());
    QCOMPARE(survey->windowTitle(), QStringLiteral("Обход шины"));
    control<QLineEdit>(survey, "siteField")->setText(QStringLiteral("Склад 3"));
    auto* start = control<QPushButton>(survey, "surveyButton");
    BoxCapture boxes;
    QTest::mouseClick(start, Qt::LeftButton);
    QCOMPARE(start->text(), QStringLiteral("Стоп"));
    QTRY_COMPARE_WITH_TIMEOUT(start->text(), QStringLiteral("Обход"), ScanTimeoutMs);
    QVERIFY(control<QPushButton>(survey, "saveButton")->isEnabled());
    // Line device 8 of 127 is of a kind the program does not know: told under
    // its device in the list, with no box.
    QVERIFY(boxes.boxes.isEmpty());
    auto* devices = control<QListWidget>(survey, "devicesList");
    QCOMPARE(devices->count(), 6);
    QVERIFY(devices->item(0)->text().startsWith(QStringLiteral("Адрес 127, ")));
    QCOMPARE(devices->item(1)->text().trimmed(),
             QStringLiteral("Адрес 127, ШС 8: Неизвестный тип устройства: 9"));
    const SiteRecord record = *survey->model().record();
    QCOMPARE(record.site, std::string("Склад 3"));
    std::vector<int> addresses;
    for (const DeviceRecord& device : record.devices) addresses.push_back(device.addr);
    QCOMPARE(addresses, (std::vector<int>{127, 5, 12, 20, 63}));

    survey->chooseSavePath = [&] { return QString::fromStdString(path("site.json")); };
    QTest::mouseClick(control<QPushButton>(survey, "saveButton"), Qt::LeftButton);
    QVERIFY(LoadRecord(path("site.json")) == record);
    QVERIFY(QFile::exists(QString::fromStdString(path("site.html"))));

    SiteRecord earlier = record;
    std::vector<int> moved;
    for (DeviceRecord& device : earlier.devices) {
      if (device.addr != 20 && device.addr != 5) continue;
      for (LoopRecord& loop : device.loops) {
        if (!loop.kohm) continue;
        loop.kohm = *loop.kohm * 3 + 1;
        moved.push_back(loop.loop);
        break;
      }
    }
    QCOMPARE(moved.size(), size_t{2});
    SaveWholeFile(path("earlier.json"), RecordJson(earlier));
    survey->chooseRecordPath = [&] { return QString::fromStdString(path("earlier.json")); };
    QTest::mouseClick(control<QPushButton>(survey, "compareButton"), Qt::LeftButton);
    auto* changes = control<QListWidget>(survey, "changesList");
    QCOMPARE(changes->count(), 2);
    const struct {
      int address;
      int loop;
    } choices[] = {{20, moved[1]}, {5, moved[0]}};
    for (const auto& choice : choices) {
      const QString line =
          QStringLiteral("Адрес %1, ШС %2: сопротивление").arg(choice.address).arg(choice.loop);
      const auto found = changes->findItems(line, Qt::MatchStartsWith);
      QCOMPARE(found.size(), 1);
      readOnce();
      QTest::mouseClick(changes->viewport(), Qt::LeftButton, {},
                        changes->visualItemRect(found.front()).center());
      QTRY_COMPARE(window_->device().DevAddr, uint8_t(choice.address));
      QCOMPARE(loops().chosenRow(), choice.loop);
      // Nothing the device read before leaves behind.
      for (int row = 1; row < loops().rowCount(); ++row) {
        QCOMPARE(cell(1, row) + cell(2, row), QString());
      }
    }
    // The folder of the two records: their loops, each with its visits.
    survey->chooseSiteFolder = [&] { return QString::fromStdString(path("")); };
    QTest::mouseClick(control<QPushButton>(survey, "siteHistoryButton"), Qt::LeftButton);
    SiteHistoryWindow* history = survey->siteHistory();
    QVERIFY(history != nullptr && history->isVisible());
    QCOMPARE(history->windowTitle(), QStringLiteral("История объекта — Склад 3"));
    auto* siteLoops = control<QListWidget>(history, "loopsList");
    QCOMPARE(size_t(siteLoops->count()), history->model().loops().size());
    QVERIFY(siteLoops->count() > 0);
    QVERIFY(siteLoops->item(0)->text().contains(QStringLiteral("посещений 2")));
    QCOMPARE(siteLoops->currentRow(), 0);
    siteLoops->setCurrentRow(1);
    QCOMPARE(history->model().chosen(), std::optional<size_t>(1));
    QCOMPARE(control<QListWidget>(history, "skippedList")->count(), 0);
    QVERIFY(boxes.boxes.isEmpty());
    // Their pictures stay in the build folder, to be looked at.
    QVERIFY(history->grab().save(QStringLiteral("site_history_window.png")));
    history->close();
    QVERIFY(survey->grab().save(QStringLiteral("survey_window.png")));
    survey->close();
    QVERIFY(!survey->isVisible());
  }

  // The server stops answering in the middle of a reading: the exchange on the
  // bus waits, and the window meanwhile takes input and repaints. Released
  // during that tick, the periodic reading reads on to its last loop and ends
  // as a single pass does.
  void theWindowAnswersWhileAnExchangeHangs() {
    BoxCapture boxes;
    ::kill(static_cast<pid_t>(server_.processId()), SIGSTOP);
    QTest::mouseClick(tool("periodicButton"), Qt::LeftButton);
    QTRY_VERIFY(window_->windowTitle().endsWith(QStringLiteral("№1")));
    QTest::qWait(100);
    QVERIFY(window_->model().reading());
    QTest::mouseClick(control<TogglePanel>(window_.get(), "stateViewToggle"), Qt::LeftButton);
    QCOMPARE(cell(1, 0), QStringLiteral("Состояние ШС"));
    QTest::mouseClick(tool("periodicButton"), Qt::LeftButton);
    QVERIFY(window_->model().reading());
    QVERIFY(button("readButton")->isEnabled());
    clickNumber(3);
    QVERIFY(loops().marked(3));
    clickNumber(3);
    ::kill(static_cast<pid_t>(server_.processId()), SIGCONT);
    QTRY_VERIFY_WITH_TIMEOUT(
        !window_->model().reading() && window_->windowTitle() == QString::fromUtf8(IdleCaption),
        PassTimeoutMs);
    // The answer of the other view leaves its row blank; the rest are states.
    QCOMPARE(cell(1, 1), QString());
    QCOMPARE(cell(1, 7), QStringLiteral("отключен"));
    QVERIFY(boxes.boxes.isEmpty());
    QTest::mouseClick(control<TogglePanel>(window_.get(), "adcViewToggle"), Qt::LeftButton);
  }

  void calibrationBehindTheAccessCode() {
    BoxCapture boxes;
    enterCode(QStringLiteral("1234"));
    QVERIFY(!calibration_->isVisible());
    QVERIFY(boxes.boxes.isEmpty());
    enterCode(QString::fromLatin1(AccessCode));
    QVERIFY(calibration_->isVisible());
    QTRY_VERIFY(calibration_->isActiveWindow());
    QCOMPARE(field("r1Field")->text(), QString());  // nothing stored for 1-105 yet

    // Neither type nor version: both messages, and the dialog closes.
    control<QComboBox>(calibration_.get(), "typeSelector")->setCurrentIndex(-1);
    field("versionField")->clear();
    QTest::mouseClick(control<QPushButton>(calibration_.get(), "enterButton"), Qt::LeftButton);
    QCOMPARE(boxes.boxes,
             (QStringList{QStringLiteral("Error: Введенный тип прибора неподдерживается"),
                          QStringLiteral("Error: Не введена версия прибора")}));
    QVERIFY(!calibration_->isVisible());

    // A failed conversion keeps it open.
    calibration_->show();
    boxes.boxes.clear();
    enterPoints("200", "abc", "100", "4");
    QTest::mouseClick(control<QPushButton>(calibration_.get(), "enterButton"), Qt::LeftButton);
    QCOMPARE(boxes.boxes,
             QStringList{applicationTitle() + ": 'abc' is not a valid floating point value"});
    QVERIFY(calibration_->isVisible());
    QVERIFY(!QFile::exists(dir_.filePath(QStringLiteral("ohmgauge.kft"))));

    // Saved, it reaches the next reading and fills the dialog again.
    enterPoints("200", "2", "100", "4");
    QTest::mouseClick(control<QPushButton>(calibration_.get(), "enterButton"), Qt::LeftButton);
    QVERIFY(!calibration_->isVisible());
    readOnce();
    const Coefficients c = window_->model().readingCycle().UsedCoefficients();
    QCOMPARE(c.a, 400.0);
    QCOMPARE(c.b, 0.0);
    const auto adc = static_cast<uint8_t>(cell(1, 1).toInt());
    QCOMPARE(cell(2, 1), number(QString::number(400.0 / adc, 'f', 1)));
    enterCode(QString::fromLatin1(AccessCode));
    QTRY_VERIFY(calibration_->isActiveWindow());
    QCOMPARE(control<QComboBox>(calibration_.get(), "typeSelector")->currentIndex(), 0);
    QStringList texts;
    for (const char* name : {"versionField", "acp1Field", "r1Field", "acp2Field", "r2Field"}) {
      texts << field(name)->text();
    }
    QCOMPARE(texts, (QStringList{number("1.05"), "200", "2", "100", "4"}));
    calibration_->close();
  }

  void aBrokenCalibrationStopsTheReadingBeforeItStarts() {
    QVERIFY(ProfileFile(path("ohmgauge.kft")).writeString("1-105", "a", "x"));
    BoxCapture boxes;
    const QString before = cell(1, 1);
    QTest::mouseClick(button("readButton"), Qt::LeftButton);
    QTest::mouseClick(tool("periodicButton"), Qt::LeftButton);
    const QString message =
        applicationTitle() + QStringLiteral(": 'x' is not a valid floating point value");
    QCOMPARE(boxes.boxes, (QStringList{message, message}));
    QVERIFY(!window_->model().reading());
    QCOMPARE(cell(1, 1), before);  // the table was not cleared
    QVERIFY(button("readButton")->isEnabled());
    QTest::mouseClick(tool("periodicButton"), Qt::LeftButton);
    QVERIFY(ProfileFile(path("ohmgauge.kft")).writeString("1-105", "a", "400"));
  }

  void enterWithoutSelectionChoosesTheFirstLine() {
    search([&](QDialog* d) {
      auto* list = control<QListView>(d, "deviceList");
      QTRY_COMPARE(list->model()->rowCount(), 5);  // the devices found earlier still answer
      list->clearSelection();
      QTest::keyClick(list, Qt::Key_Return);
    });
    QTRY_COMPARE(window_->device().DevAddr, uint8_t{127});
    QCOMPARE(window_->device().DevType, uint8_t{9});
    QCOMPARE(loops().rowCount(), 128);
    QVERIFY(!loops().marked(1));
    for (int row = 2; row < 128; ++row) QVERIFY(loops().marked(row));
  }

  void typeNineReadsItsLineDevices() {
    BoxCapture boxes;
    clickNumber(8);  // line device 8 is of a kind the program does not know
    readOnce();
    QCOMPARE(boxes.boxes,
             QStringList{applicationTitle() + QStringLiteral(": Неизвестный тип устройства: 9")});
    const auto adc = static_cast<uint8_t>(cell(1, 1).toInt());
    const Bytes kindFive{127, 5, BusAnswer::LineDevice, 1, 5};
    QCOMPARE(cell(2, 1), QString::fromStdString(DecodeLineDevice(kindFive, adc).text));
    QVERIFY(!cell(1, 8).isEmpty());
    QCOMPARE(cell(2, 8), QString());
    QCOMPARE(cell(1, 3), QString());
  }

  // The simulator server gone while the session works in simulator mode: the
  // check on opening and the search each show one box, the dialog stays open
  // and the program goes on.
  void aSearchWithoutTheSimulatorShowsOneBoxEach() {
    server_.kill();
    server_.waitForFinished();
    BoxCapture boxes;
    search([&](QDialog* d) {
      QTRY_COMPARE(boxes.boxes.size(), 1);
      QVERIFY(d->isVisible());
      auto* button = control<QPushButton>(d, "searchButton");
      QTest::mouseClick(button, Qt::LeftButton);
      QTRY_COMPARE(boxes.boxes.size(), 2);
      QTest::qWait(100);
      QCOMPARE(boxes.boxes.size(), 2);
      QVERIFY(d->isVisible());
      QCOMPARE(button->text(), QStringLiteral("Поиск"));
      QCOMPARE(d->windowTitle(), QStringLiteral("Поиск приборов"));
      QVERIFY(control<QComboBox>(d, "portSelector")->isEnabled());
    });
    for (const QString& box : boxes.boxes) {
      QVERIFY2(box.startsWith(applicationTitle() + QStringLiteral(": ")), qPrintable(box));
    }
    QVERIFY(window_->isVisible());
  }

  // The program shows this message and ends with a non-zero status.
  void aLineSettingOfTheWrongTypeStopsTheStart() {
    testing::FakePlatform fake;
    fake.registry->set(LineSettingsKey, "StartTimeout", RegValue::ofString("30"));
    QString message;
    try {
      MainWindow other(fake.platform(), Desktop::Files{path("other.kft"), path("pcom.ini")});
    } catch (const std::exception& error) {
      message = QString::fromUtf8(error.what());
    }
    QVERIFY2(message.contains(QStringLiteral("StartTimeout")), qPrintable(message));
  }

  // The driver route with a "Settings" value it cannot put back: the same.
  void aBadPortSettingOnTheDriverRouteShowsOneBox() {
    testing::FakePlatform fake;
    fake.driver->setPresent(true);
    fake.registry->set("Enum\\BIOS\\*PNP0501\\0001", "PortName", RegValue::ofString("COM2"));
    fake.registry->set("Enum\\BIOS\\*PNP0501\\0001", "Settings", RegValue::ofString("9600"));
    MainWindow other(fake.platform(), Desktop::Files{path("other.kft"), path("pcom.ini")});
    other.show();
    QVERIFY(ProfileFile(path("pcom.ini")).writeString("Port", "Num", "1"));
    BoxCapture boxes;
    QTimer::singleShot(0, this, [&] {
      QDialog* d = &other.searchDialog();
      QTest::mouseClick(control<QPushButton>(d, "searchButton"), Qt::LeftButton);
      QTRY_COMPARE(boxes.boxes.size(), 1);
      QVERIFY(boxes.boxes.front().contains(QStringLiteral("Settings")));
      QVERIFY(d->isVisible());
      d->close();
    });
    QTest::mouseClick(control<QToolButton>(&other, "searchButton"), Qt::LeftButton);
    QCOMPARE(boxes.boxes.size(), 1);
  }

  // A converter mapped as COM9 stands after the four ports with the device
  // behind it; the closed selector is wide enough for it, the dialog growing
  // by what it lacks. A port that cannot be opened is told in one box per
  // start, in the windows' language; a scan that finds nothing says so.
  // Chosen, the port is found again by its name, and not at all once it is gone.
  void aFurtherPortIsOfferedToldAndRemembered() {
    testing::FakePlatform fake;
    testing::writeFile(path("converter"), "");
    QVERIFY(mapPort(*fake.registry, "COM9", path("converter")));
    fake.line->failOpens(-1);
    MainWindow other(fake.platform(), Desktop::Files{path("other.kft"), path("other.ini")});
    other.show();
    const QString item = QStringLiteral("COM9 — ") + QString::fromStdString(path("converter"));
    auto searchIn = [&](const std::function<void(QDialog*)>& inside) {
      QDialog* d = &other.searchDialog();
      QTimer::singleShot(0, this, [&] {
        inside(d);
        if (d->isVisible()) d->close();
      });
      QTest::mouseClick(control<QToolButton>(&other, "searchButton"), Qt::LeftButton);
    };

    int index = -1;
    BoxCapture boxes;
    searchIn([&](QDialog* d) {
      auto* selector = control<QComboBox>(d, "portSelector");
      for (int port = 0; port < 4; ++port) {
        QVERIFY(selector->itemText(port).startsWith(QStringLiteral("COM%1").arg(port + 1)));
      }
      index = selector->findText(item);
      QVERIFY2(index >= 4, qPrintable(selector->itemText(selector->count() - 1)));
      const int grown = selector->width() - 105;
      QVERIFY(selector->width() > selector->fontMetrics().horizontalAdvance(item) + 16);
      QCOMPARE(d->size(), QSize(318 + grown, 279));
      QCOMPARE(control<QWidget>(d, "deviceList")->width(), 297 + grown);
      selector->setCurrentIndex(index);
      auto* button = control<QPushButton>(d, "searchButton");
      QTest::mouseClick(button, Qt::LeftButton);
      QTRY_COMPARE(boxes.boxes.size(), 1);
      QTRY_COMPARE_WITH_TIMEOUT(button->text(), QStringLiteral("Поиск"), ScanTimeoutMs);
      QCOMPARE(control<NoteListView>(d, "deviceList")->note(),
               QStringLiteral("Приборы не найдены"));
      QTest::mouseClick(button, Qt::LeftButton);
      QTRY_COMPARE(boxes.boxes.size(), 2);
      QCOMPARE(control<NoteListView>(d, "deviceList")->note(), QString());
      QTest::mouseClick(button, Qt::LeftButton);
      QTRY_COMPARE(button->text(), QStringLiteral("Поиск"));
    });
    const QString told = applicationTitle() + QStringLiteral(": Не удалось открыть порт COM9 (") +
                         QString::fromStdString(path("converter")) + QStringLiteral(")");
    QCOMPARE(boxes.boxes, (QStringList{told, told}));
    QCOMPARE(ProfileFile(path("other.ini")).readInt("Port", "Num", -1), index);
    QCOMPARE(ProfileFile(path("other.ini")).readString("Port", "Name", ""), std::string("COM9"));
    searchIn([&](QDialog* d) {
      QCOMPARE(control<QComboBox>(d, "portSelector")->currentIndex(), index);
    });
    std::filesystem::remove(path("converter"));
    searchIn(
        [&](QDialog* d) { QCOMPARE(control<QComboBox>(d, "portSelector")->currentIndex(), -1); });
  }

 private:
  void startServer() {
    server_.setProcessChannelMode(QProcess::MergedChannels);
    server_.start(QStringLiteral(LOOPSIM_PATH), {QStringLiteral("serve")});
    QByteArray output;
    while (!output.contains("serving on") && server_.waitForReadyRead(20000)) {
      output += server_.readAll();
    }
    QVERIFY2(output.contains("serving on"), output.constData());
  }
  // Opens the search dialog with the main window's search button; `inside`
  // runs in the dialog, which is closed afterwards if it is still open.
  void search(const std::function<void(QDialog*)>& inside) {
    QDialog* d = &window_->searchDialog();
    QTimer::singleShot(0, this, [&] {
      inside(d);
      if (d->isVisible()) d->close();
    });
    QTest::mouseClick(control<QToolButton>(window_.get(), "searchButton"), Qt::LeftButton);
  }
  // Opens the password dialog with the tools button, types the code and
  // presses Ok; the code shows masked and is gone afterwards.
  void enterCode(const QString& code) {
    QString shown;
    auto* codeField = control<QLineEdit>(password_.get(), "codeField");
    QTimer::singleShot(0, this, [&] {
      QTest::keyClicks(codeField, code);
      shown = codeField->displayText();
      QTest::mouseClick(control<QPushButton>(password_.get(), "okButton"), Qt::LeftButton);
    });
    QTest::mouseClick(tool("toolsButton"), Qt::LeftButton);
    QCOMPARE(shown, QString(code.size(), QLatin1Char('#')));
    QCOMPARE(codeField->text(), QString());
  }
  QLineEdit* field(const char* name) const { return control<QLineEdit>(calibration_.get(), name); }
  void enterPoints(const char* acp1, const char* r1, const char* acp2, const char* r2) {
    control<QComboBox>(calibration_.get(), "typeSelector")->setCurrentIndex(0);
    field("versionField")->setText(number("1.05"));
    field("acp1Field")->setText(QString::fromLatin1(acp1));
    field("r1Field")->setText(QString::fromLatin1(r1));
    field("acp2Field")->setText(QString::fromLatin1(acp2));
    field("r2Field")->setText(QString::fromLatin1(r2));
  }
  void readOnce() {
    QTest::mouseClick(button("readButton"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(
        !window_->model().reading() && window_->windowTitle() == QString::fromUtf8(IdleCaption),
        PassTimeoutMs);
  }
  void clickNumber(int row) {
    QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, centre(0, row));
  }
  QPushButton* button(const char* name) const { return control<QPushButton>(window_.get(), name); }
  QToolButton* tool(const char* name) const { return control<QToolButton>(window_.get(), name); }
  QPoint centre(int col, int row) const { return grid()->cellRect(col, row).center(); }
  qt::LoopTable* grid() const { return control<qt::LoopTable>(window_.get(), "loopTable"); }
  // What the table draws.
  const LoopGridModel& loops() const { return window_->model().grid(); }
  QString cell(int col, int row) const { return QString::fromStdString(loops().cell(col, row)); }
  std::string path(const char* name) const {
    return dir_.filePath(QString::fromLatin1(name)).toStdString();
  }
  static QString number(QString text) {
    return text.replace(QLatin1Char('.'), QLatin1Char(userDecimalSeparator()));
  }

  const QTemporaryDir& dir_;
  QProcess server_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<CalibrationDialog> calibration_;
  std::unique_ptr<PasswordDialog> password_;
};

int main(int argc, char* argv[]) {
  // Markers, the simulator socket, the registry store and the program's files
  // in a folder of the test's own.
  QTemporaryDir dir;
  qputenv("XDG_RUNTIME_DIR", dir.path().toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  SessionTest test(dir);
  return QTest::qExec(&test, argc, argv);
}

#include "session_test.moc"
