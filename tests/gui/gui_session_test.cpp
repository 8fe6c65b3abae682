// A user's session with the program's windows against `loopsim serve` and its
// demo bus (type 1 at 5, type 2 at 12, type 4 at 20, type 11 at 63, type 9 at
// 127). The slots run in order on one main window, as a user's session would.

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>

#include "gui/qt/widgets.h"
#include "loops/loop_decode.h"
#include "gui/qt/loop_grid.h"
#include "gui/qt/message_box.h"
#include "gui/qt/calibration_dialog.h"
#include "gui/qt/password_dialog.h"
#include "gui/qt/main_window.h"
#include "platform/profile_file.h"
#include "gui/qt/search_dialog.h"
#include "session/session.h"

using namespace loopmon;

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

}  // namespace

class SessionTest : public QObject {
  Q_OBJECT
 public:
  explicit SessionTest(const QTemporaryDir& dir) : dir_(dir) {}

 private slots:
  void initTestCase() {
    server_.setProcessChannelMode(QProcess::MergedChannels);
    server_.start(QStringLiteral(LOOPSIM_PATH), {QStringLiteral("serve")});
    QByteArray output;
    while (!output.contains("serving on") && server_.waitForReadyRead(20000)) {
      output += server_.readAll();
    }
    QVERIFY2(output.contains("serving on"), output.constData());
    form_ = std::make_unique<TForm1>(Platform::system(),
                                     TForm1::Files{path("ohmgauge.kft"), path("pcom.ini")});
    kalibr_ = std::make_unique<TfrmKalibr>([this] { return form_->Device(); },
                                           form_->coefficientsStore());
    password_ = std::make_unique<TfrmPassword>(*kalibr_);
    form_->setPasswordDialog(password_.get());
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
  }
  void cleanupTestCase() {
    form_.reset();
    server_.terminate();
    server_.waitForFinished();
  }

  void everyCloseOfTheSearchReturnsZeroWithoutARequest() {
    QVERIFY(ProfileFile(path("pcom.ini")).writeString("Port", "Num", "3"));
    const uint32_t requests = session().RequestCount;
    const std::function<void(TSearchDv&)> closings[] = {
        [](TSearchDv& dv) { QTest::mouseClick(dv.CancelButton, Qt::LeftButton); },
        [](TSearchDv& dv) { QTest::keyClick(dv.DeviceList, Qt::Key_Escape); },
        [](TSearchDv& dv) { dv.Form->close(); }};
    for (const auto& close : closings) {
      search([&](TSearchDv& dv) {
        QCOMPARE(dv.PortSelector->currentIndex(), 3);
        QCOMPARE(dv.DeviceList->count(), 0);
        // Choosing from the empty list keeps the dialog open.
        QTest::keyClick(dv.DeviceList, Qt::Key_Return);
        QVERIFY(dv.Form->isVisible());
        close(dv);
        QVERIFY(!dv.Form->isVisible());
      });
      QCOMPARE(form_->Dev.DevAddr, uint8_t{0});
    }
    QCOMPARE(session().RequestCount, requests);
  }

  void rememberedPortNineIsNoPort() {
    QVERIFY(ProfileFile(path("pcom.ini")).writeString("Port", "Num", "9"));
    int shownIndex = -2;
    BoxCapture boxes;
    search([&](TSearchDv& dv) {
      shownIndex = dv.PortSelector->currentIndex();
      QTest::mouseClick(dv.SearchButton, Qt::LeftButton);
      QCOMPARE(dv.SearchButton->text(), QStringLiteral("Поиск"));
    });
    QCOMPARE(shownIndex, -1);
    QCOMPARE(boxes.boxes, QStringList{QStringLiteral(": Неопределен последовательный порт!")});
    // Closed with no port: COM1 is remembered.
    QCOMPARE(ProfileFile(path("pcom.ini")).readInt("Port", "Num", -1), 0);
  }

  void closingMidScanEndsTheScan() {
    uint32_t requestsAtClose = 0;
    search([&](TSearchDv& dv) {
      QTest::mouseClick(dv.SearchButton, Qt::LeftButton);
      QTRY_VERIFY_WITH_TIMEOUT(dv.Progress->value() >= 8, ScanTimeoutMs);
      QCOMPARE(dv.SearchButton->text(), QStringLiteral("Стоп"));
      dv.Form->close();
      requestsAtClose = session().RequestCount;
    });
    TSearchDv& dv = form_->SearchDv();
    QVERIFY(!dv.ScanTimer->isActive());
    QCOMPARE(dv.FormCaption(), QStringLiteral("Поиск приборов"));
    QCOMPARE(dv.SearchButton->text(), QStringLiteral("Поиск"));
    QCOMPARE(dv.Progress->value(), 0);
    QTest::qWait(300);
    QCOMPARE(session().RequestCount, requestsAtClose);
  }

  void searchAndChooseATypeOneDevice() {
    search([&](TSearchDv& dv) {
      QTest::mouseClick(dv.SearchButton, Qt::LeftButton);
      QTRY_COMPARE_WITH_TIMEOUT(dv.SearchButton->text(), QStringLiteral("Поиск"), ScanTimeoutMs);
      QStringList lines, expected;
      for (int row = 0; row < dv.DeviceList->count(); ++row) {
        lines << dv.DeviceList->item(row)->text();
      }
      for (uint8_t address : {127, 5, 12, 20, 63}) {
        expected << QString::fromStdString(session().DescribeDevice(address));
      }
      QCOMPARE(lines, expected);
      dv.DeviceList->setCurrentRow(1);
      QTest::mouseClick(dv.ChooseButton, Qt::LeftButton);
    });
    QCOMPARE(form_->Dev.DevAddr, uint8_t{5});
    QCOMPARE(form_->Label1->text(), QString::fromStdString(session().DescribeDevice(5)));
    QVERIFY(form_->BitBtn2->isEnabled() && form_->SpeedButton->isEnabled());
    QCOMPARE(grid()->rowCount(), 21);
  }

  void readOnceInBothViews() {
    readOnce();
    const Coefficients c = form_->readingCycle().coefficients();
    QCOMPARE(c.a, 408.0);
    QCOMPARE(c.b, -1.0);
    QCOMPARE(cell(2, 3), QStringLiteral("Обрыв"));
    for (int row = 1; row < 21; ++row) {
      QCOMPARE(cell(0, row), QString::number(row));
      const auto adc = static_cast<uint8_t>(cell(1, row).toInt());
      QCOMPARE(cell(2, row), QString::fromStdString(ResistanceText(adc, c)));
    }

    QTest::mouseClick(form_->pSS, Qt::LeftButton);
    readOnce();
    QCOMPARE(cell(1, 7), QStringLiteral("отключен"));
    QCOMPARE(cell(1, 12), QStringLiteral("не на охране"));
    for (int row = 1; row < 21; ++row) QCOMPARE(cell(2, row), QString());
    QTest::mouseClick(form_->pACP, Qt::LeftButton);
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
    form_->sePeriod->setValue(1);
    QTest::mouseClick(form_->SpeedButton, Qt::LeftButton);
    QVERIFY(!form_->BitBtn2->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(form_->waitingBetweenPasses(), PassTimeoutMs);
    // The next pass starts after the period and keeps the values meanwhile.
    QVERIFY(!cell(1, 20).isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!form_->waitingBetweenPasses(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(form_->waitingBetweenPasses(), PassTimeoutMs);
    // A release during the wait: no further tick.
    QTest::mouseClick(form_->SpeedButton, Qt::LeftButton);
    QVERIFY(form_->BitBtn2->isEnabled());
    QVERIFY(!form_->readingScheduled());
    const uint32_t requests = session().RequestCount;
    QTest::qWait(1500);
    QCOMPARE(session().RequestCount, requests);
  }

  void calibrationBehindTheAccessCode() {
    BoxCapture boxes;
    for (const char* wrong : {"1234", "48205917 "}) {
      enterCode(QString::fromLatin1(wrong));
      QVERIFY(!kalibr_->isVisible());
    }
    QVERIFY(boxes.boxes.isEmpty());
    enterCode(QString::fromLatin1(AccessCode));
    QVERIFY(kalibr_->isVisible());
    kalibr_->FormActivate();
    QCOMPARE(kalibr_->edR1->text(), QString());  // nothing stored for 1-105 yet

    // Neither type nor version: both messages, and the dialog closes.
    kalibr_->cbType->setCurrentIndex(-1);
    QTest::mouseClick(kalibr_->bEnter, Qt::LeftButton);
    QCOMPARE(boxes.boxes,
             (QStringList{QStringLiteral("Error: Введенный тип прибора неподдерживается"),
                          QStringLiteral("Error: Не введена версия прибора")}));
    QVERIFY(!kalibr_->isVisible());

    // A failed conversion or division keeps it open.
    kalibr_->show();
    const struct {
      const char* r1;
      const char* acp2;
      const char* message;
    } failures[] = {{"abc", "100", "'abc' is not a valid floating point value"},
                    {"2", "200", "Floating point division by zero"}};
    for (const auto& failure : failures) {
      boxes.boxes.clear();
      enterPoints("200", failure.r1, failure.acp2, "4");
      kalibr_->bEnterClick();
      QCOMPARE(boxes.boxes, QStringList{applicationTitle() + ": " + failure.message});
      QVERIFY(kalibr_->isVisible());
    }
    QVERIFY(!QFile::exists(dir_.filePath(QStringLiteral("ohmgauge.kft"))));

    // Saved, it reaches the next reading and fills the dialog again.
    enterPoints("200", "2", "100", "4");
    kalibr_->bEnterClick();
    QVERIFY(!kalibr_->isVisible());
    readOnce();
    const Coefficients c = form_->readingCycle().coefficients();
    QCOMPARE(c.a, 400.0);
    QCOMPARE(c.b, 0.0);
    const auto adc = static_cast<uint8_t>(cell(1, 1).toInt());
    QCOMPARE(cell(2, 1), QString::fromStdString(ResistanceText(adc, c)));
    kalibr_->cbType->setCurrentIndex(-1);
    for (QLineEdit* edit : points()) edit->clear();
    kalibr_->FormActivate();
    QCOMPARE(kalibr_->cbType->currentIndex(), 0);
    QStringList texts;
    for (QLineEdit* edit : points()) texts << edit->text();
    QCOMPARE(texts, (QStringList{number("1.05"), "200", "2", "100", "4"}));
  }

  void aBrokenCalibrationStopsTheReadingBeforeItStarts() {
    QVERIFY(ProfileFile(path("ohmgauge.kft")).writeString("1-105", "a", "x"));
    BoxCapture boxes;
    const QString before = cell(1, 1);
    QTest::mouseClick(form_->BitBtn2, Qt::LeftButton);
    QTest::mouseClick(form_->SpeedButton, Qt::LeftButton);
    const QString message =
        applicationTitle() + QStringLiteral(": 'x' is not a valid floating point value");
    QCOMPARE(boxes.boxes, (QStringList{message, message}));
    QVERIFY(!form_->readingScheduled());
    QCOMPARE(cell(1, 1), before);  // the table was not cleared
    QVERIFY(form_->BitBtn2->isEnabled());
    QTest::mouseClick(form_->SpeedButton, Qt::LeftButton);
  }

  void enterWithoutSelectionChoosesTheFirstLine() {
    search([&](TSearchDv& dv) {
      QCOMPARE(dv.DeviceList->count(), 5);  // the devices found earlier still answer
      dv.DeviceList->clearSelection();
      QTest::keyClick(dv.DeviceList, Qt::Key_Return);
    });
    QCOMPARE(form_->Dev.DevAddr, uint8_t{127});
    QCOMPARE(form_->Dev.DevType, uint8_t{9});
    QCOMPARE(grid()->rowCount(), 128);
    QCOMPARE(grid()->mark(1), 0);
    for (int row = 2; row < 128; ++row) QCOMPARE(grid()->mark(row), 1);
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

 private:
  // Opens the search dialog with the main window's search button; `inside`
  // runs in the dialog, which is closed afterwards if it is still open.
  void search(const std::function<void(TSearchDv&)>& inside) {
    TSearchDv& dv = form_->SearchDv();
    QTimer::singleShot(0, this, [&] {
      inside(dv);
      if (dv.Form->isVisible()) dv.Form->close();
    });
    QTest::mouseClick(form_->btnSearch, Qt::LeftButton);
  }
  // Opens the password dialog with the tools button, types the code and
  // presses Ok; the code shows masked and is gone afterwards.
  void enterCode(const QString& code) {
    QString shown;
    QTimer::singleShot(0, this, [&] {
      QTest::keyClicks(password_->MaskEdit1, code);
      shown = password_->MaskEdit1->displayText();
      QTest::mouseClick(password_->btnOk, Qt::LeftButton);
    });
    QTest::mouseClick(form_->btnTools, Qt::LeftButton);
    QCOMPARE(shown, QString(code.size(), QLatin1Char('#')));
    QCOMPARE(password_->MaskEdit1->text(), QString());
  }
  std::vector<QLineEdit*> points() const {
    return {kalibr_->edVersion, kalibr_->edACP1, kalibr_->edR1, kalibr_->edACP2, kalibr_->edR2};
  }
  void enterPoints(const char* acp1, const char* r1, const char* acp2, const char* r2) {
    kalibr_->cbType->setCurrentIndex(0);
    const QString texts[] = {number("1.05"), acp1, r1, acp2, r2};
    for (size_t i = 0; i < 5; ++i) points()[i]->setText(texts[i]);
  }
  void readOnce() {
    QTest::mouseClick(form_->BitBtn2, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(
        !form_->readingScheduled() && form_->windowTitle() == QString::fromUtf8(IdleCaption),
        PassTimeoutMs);
  }
  void clickNumber(int row) {
    QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, centre(0, row));
  }
  QPoint centre(int col, int row) const { return grid()->cellRect(col, row).center(); }
  LoopGrid* grid() const { return form_->StringGrid1; }
  QString cell(int col, int row) const { return grid()->cell(col, row); }
  TRSSession& session() { return form_->RSSession1(); }
  std::string path(const char* name) const {
    return dir_.filePath(QString::fromLatin1(name)).toStdString();
  }
  static QString number(QString text) {
    return text.replace(QLatin1Char('.'), QLatin1Char(userDecimalSeparator()));
  }

  const QTemporaryDir& dir_;
  QProcess server_;
  std::unique_ptr<TForm1> form_;
  std::unique_ptr<TfrmKalibr> kalibr_;
  std::unique_ptr<TfrmPassword> password_;
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

#include "gui_session_test.moc"
