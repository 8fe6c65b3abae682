// The program's windows against `loopsim serve` and its demo bus (type 1 at 5,
// type 2 at 12, type 4 at 20, type 11 at 63, type 9 at 127): the search dialog
// in all its ways of closing, choosing a device, reading once in both views,
// marks, periodic reading, a type 9 device, and a calibration that the next
// reading uses. The slots run in order and share one main window, as a user's
// session would.

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>

#include "gui_test_support.h"
#include "monitor/gui_controls.h"
#include "monitor/loop_decode.h"
#include "monitor/loop_grid.h"
#include "monitor/message_box.h"
#include "monitor/u_kalibr.h"
#include "monitor/unit1.h"
#include "platform/profile_file.h"
#include "search/searchdv.h"
#include "session/rssess.h"

using namespace loopmon;

namespace {
constexpr int ScanTimeoutMs = 120000;
constexpr int PassTimeoutMs = 60000;
const QString IdleTitle = QString::fromUtf8(IdleCaption);
}  // namespace

class SessionTest : public QObject {
  Q_OBJECT
 public:
  explicit SessionTest(const testing::PrivateEnvironment& env) : env_(env) {}

 private slots:
  void initTestCase() {
    server_ = std::make_unique<testing::SimulatorServer>(QStringLiteral(LOOPSIM_PATH));
    QVERIFY2(server_->started(), qPrintable(server_->output()));
    form_ = std::make_unique<TForm1>(Platform::system(),
                                     TForm1::Files{path("ohmgauge.kft"), path("pcom.ini")});
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
  }
  void cleanupTestCase() {
    form_.reset();
    server_.reset();
  }

  void firstOpeningAsksNothingAndEveryCloseReturnsZero() {
    const uint32_t requests = session().RequestCount;
    const std::function<void(TSearchDv&)> closings[] = {
        [](TSearchDv& dv) { QTest::mouseClick(dv.CancelButton, Qt::LeftButton); },
        [](TSearchDv& dv) { QTest::keyClick(dv.DeviceList, Qt::Key_Escape); },
        [](TSearchDv& dv) { dv.Form->close(); }};
    for (const auto& close : closings) {
      search([&](TSearchDv& dv) {
        QCOMPARE(dv.FormCaption(), QStringLiteral("Поиск приборов"));
        QCOMPARE(dv.DeviceList->count(), 0);
        QVERIFY(!dv.ChooseButton->isEnabled());
        // Choosing from the empty list keeps the dialog open.
        QTest::keyClick(dv.DeviceList, Qt::Key_Return);
        QTest::mouseDClick(dv.DeviceList->viewport(), Qt::LeftButton);
        QVERIFY(dv.Form->isVisible());
        close(dv);
        QVERIFY(!dv.Form->isVisible());
      });
      QCOMPARE(form_->Dev.DevAddr, uint8_t{0});
      QVERIFY(!form_->BitBtn2->isEnabled() && !form_->SpeedButton->isEnabled());
      QCOMPARE(form_->StringGrid1->rowCount(), 1);
    }
    QCOMPARE(session().RequestCount, requests);
  }

  void rememberedPortIndex() {
    writePortIndex("3");
    int shownIndex = -2;
    search([&](TSearchDv& dv) { shownIndex = dv.PortSelector->currentIndex(); });
    QCOMPARE(shownIndex, 3);

    writePortIndex("9");
    testing::BoxCapture boxes;
    search([&](TSearchDv& dv) {
      shownIndex = dv.PortSelector->currentIndex();
      QTest::mouseClick(dv.SearchButton, Qt::LeftButton);
      QCOMPARE(dv.SearchButton->text(), QStringLiteral("Поиск"));
    });
    QCOMPARE(shownIndex, -1);
    QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Неопределен последовательный порт!")});
    QCOMPARE(boxes.boxes[0].caption, QString());
    QCOMPARE(boxes.boxes[0].icon, QMessageBox::Critical);
    QCOMPARE(readPortIndex(), 0);  // closed with no port: COM1 is remembered
  }

  void aFailedWriteOfTheSettingsStillCloses() {
    QDir().mkpath(env_.path("blocked/pcom.ini"));  // a folder where the file should go
    TSearchDv dv(env_.path("blocked/pcom.ini").toStdString());
    QTimer::singleShot(0, &dv, [&dv] { QTest::keyClick(dv.DeviceList, Qt::Key_Escape); });
    QCOMPARE(dv.RunDialog(), uint8_t{0});
    QVERIFY(!dv.Form->isVisible());
  }

  void closingMidScanEndsTheScan() {
    uint32_t requestsAtClose = 0;
    search([&](TSearchDv& dv) {
      QTest::mouseClick(dv.SearchButton, Qt::LeftButton);
      QCOMPARE(dv.SearchButton->text(), QStringLiteral("Стоп"));
      QVERIFY(!dv.PortSelector->isEnabled());
      QTRY_VERIFY_WITH_TIMEOUT(dv.Progress->value() >= 8, ScanTimeoutMs);
      QVERIFY(dv.FormCaption().startsWith(QStringLiteral("Поиск приборов по адресу ")));
      dv.Form->close();
      requestsAtClose = session().RequestCount;
    });
    TSearchDv& dv = form_->SearchDv();
    QVERIFY(!dv.ScanTimer->isActive());
    QCOMPARE(dv.FormCaption(), QStringLiteral("Поиск приборов"));
    QCOMPARE(dv.SearchButton->text(), QStringLiteral("Поиск"));
    QVERIFY(dv.PortSelector->isEnabled());
    QCOMPARE(dv.Progress->value(), 0);
    QTest::qWait(300);
    QCOMPARE(session().RequestCount, requestsAtClose);
  }

  void searchAndChooseATypeOneDevice() {
    search([&](TSearchDv& dv) {
      QTest::mouseClick(dv.SearchButton, Qt::LeftButton);
      QTRY_COMPARE_WITH_TIMEOUT(dv.SearchButton->text(), QStringLiteral("Поиск"), ScanTimeoutMs);
      QCOMPARE(dv.FormCaption(), QStringLiteral("Поиск приборов"));
      QStringList lines;
      for (int row = 0; row < dv.DeviceList->count(); ++row) {
        lines << dv.DeviceList->item(row)->text();
      }
      QStringList expected;
      for (uint8_t address : {127, 5, 12, 20, 63}) {
        expected << QString::fromStdString(session().DescribeDevice(address));
      }
      QCOMPARE(lines, expected);
      QVERIFY(dv.ChooseButton->isEnabled());
      choose(dv, 5);
    });
    QCOMPARE(form_->Dev.DevAddr, uint8_t{5});
    QCOMPARE(form_->Dev.DevType, uint8_t{1});
    QCOMPARE(form_->Dev.DevVersion, uint8_t{105});
    QCOMPARE(form_->Label1->text(), QString::fromStdString(session().DescribeDevice(5)));
    QVERIFY(form_->BitBtn2->isEnabled() && form_->SpeedButton->isEnabled() &&
            form_->sePeriod->isEnabled());
    QCOMPARE(form_->StringGrid1->rowCount(), 21);
    for (int row = 1; row < 21; ++row) {
      QCOMPARE(form_->StringGrid1->cell(0, row), QString::number(row));
      QCOMPARE(form_->StringGrid1->mark(row), 0);
    }
  }

  void readOnceInTheAdcView() {
    readOnce();
    const Coefficients c = form_->readingCycle().coefficients();
    QCOMPARE(c.a, 408.0);
    QCOMPARE(c.b, -1.0);
    QCOMPARE(cell(1, 3), QStringLiteral("0"));
    QCOMPARE(cell(2, 3), QStringLiteral("Обрыв"));
    for (int row = 1; row < 21; ++row) {
      QCOMPARE(cell(0, row), QString::number(row));
      bool isNumber = false;
      const int adc = cell(1, row).toInt(&isNumber);
      QVERIFY2(isNumber, qPrintable(cell(1, row)));
      QCOMPARE(cell(2, row), QString::fromStdString(ResistanceText(static_cast<uint8_t>(adc), c)));
    }
  }

  void readOnceInTheStateView() {
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
      QCOMPARE(cell(1, row), QString());
      QCOMPARE(cell(2, row), QString());
    }
    QVERIFY(!cell(1, 9).isEmpty() && !cell(1, 13).isEmpty());
    for (int row : {2, 10, 11, 12}) clickNumber(row);
  }

  void periodicReadingRepeatsUntilReleased() {
    form_->sePeriod->setValue(1);
    QTest::mouseClick(form_->SpeedButton, Qt::LeftButton);
    QVERIFY(form_->SpeedButton->isChecked());
    QVERIFY(!form_->BitBtn2->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(form_->waitingBetweenPasses(), PassTimeoutMs);
    // The next pass starts after the period and keeps the values meanwhile.
    QVERIFY(!cell(1, 20).isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!form_->waitingBetweenPasses(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(form_->waitingBetweenPasses(), PassTimeoutMs);
    // A release during the wait: no further tick.
    QTest::mouseClick(form_->SpeedButton, Qt::LeftButton);
    QVERIFY(!form_->SpeedButton->isChecked());
    QVERIFY(form_->BitBtn2->isEnabled());
    QVERIFY(!form_->readingScheduled());
    const uint32_t requests = session().RequestCount;
    QTest::qWait(1500);
    QCOMPARE(session().RequestCount, requests);
  }

  void calibrationReachesTheNextReading() {
    TfrmKalibr kalibr([this] { return form_->Device(); }, form_->coefficientsStore());
    kalibr.show();
    kalibr.FormActivate();
    QCOMPARE(kalibr.edR1->text(), QString());  // nothing stored for 1-105 yet
    kalibr.cbType->setCurrentIndex(0);
    kalibr.edVersion->setText(number("1.05"));
    kalibr.edACP1->setText("200");
    kalibr.edR1->setText("2");
    kalibr.edACP2->setText("100");
    kalibr.edR2->setText("4");
    kalibr.bEnterClick();
    QVERIFY(!kalibr.isVisible());
    readOnce();
    const Coefficients c = form_->readingCycle().coefficients();
    QCOMPARE(c.a, 400.0);
    QCOMPARE(c.b, 0.0);
    const auto adc = static_cast<uint8_t>(cell(1, 1).toInt());
    QCOMPARE(cell(2, 1), QString::fromStdString(ResistanceText(adc, c)));
  }

  void aBrokenCalibrationStopsTheReadingBeforeItStarts() {
    QVERIFY(ProfileFile(path("ohmgauge.kft")).writeString("1-105", "a", "x"));
    testing::BoxCapture boxes;
    const QString before = cell(1, 1);
    QTest::mouseClick(form_->BitBtn2, Qt::LeftButton);
    QTest::mouseClick(form_->SpeedButton, Qt::LeftButton);
    const QString message = QStringLiteral("'x' is not a valid floating point value");
    QCOMPARE(boxes.texts(), (QStringList{message, message}));
    QCOMPARE(boxes.boxes[0].caption, applicationTitle());
    QVERIFY(!form_->readingScheduled());
    QCOMPARE(cell(1, 1), before);  // the table was not cleared
    QVERIFY(form_->BitBtn2->isEnabled());
    QTest::mouseClick(form_->SpeedButton, Qt::LeftButton);
    QVERIFY(ProfileFile(path("ohmgauge.kft")).writeString("1-105", "a", "400"));
  }

  void enterWithoutSelectionChoosesTheFirstLine() {
    search([&](TSearchDv& dv) {
      QCOMPARE(dv.DeviceList->count(), 5);  // the devices found earlier still answer
      QVERIFY(dv.ChooseButton->isEnabled());
      dv.DeviceList->clearSelection();
      QTest::keyClick(dv.DeviceList, Qt::Key_Return);
    });
    QCOMPARE(form_->Dev.DevAddr, uint8_t{127});
    QCOMPARE(form_->Dev.DevType, uint8_t{9});
    QCOMPARE(grid()->rowCount(), 128);
    QCOMPARE(grid()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(grid()->mark(1), 0);
    for (int row = 2; row < 128; ++row) QCOMPARE(grid()->mark(row), 1);
    QCOMPARE(cell(0, 127), QStringLiteral("127"));
  }

  void typeNineReadsItsLineDevices() {
    testing::BoxCapture boxes;
    clickNumber(8);  // line device 8 is of a kind the program does not know
    readOnce();
    QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Неизвестный тип устройства: 9")});
    QCOMPARE(boxes.boxes[0].caption, applicationTitle());
    const auto adc = static_cast<uint8_t>(cell(1, 1).toInt());
    const Bytes kindFive{127, 5, CodeLineDeviceKind, 1, 5};
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
  static void choose(TSearchDv& dv, uint8_t address) {
    for (int row = 0; row < dv.DeviceList->count(); ++row) {
      if (AddressFromLine(dv.DeviceList->item(row)->text()) == address) {
        dv.DeviceList->setCurrentRow(row);
      }
    }
    QTest::mouseClick(dv.ChooseButton, Qt::LeftButton);
  }
  void readOnce() {
    QTest::mouseClick(form_->BitBtn2, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!form_->readingScheduled() && form_->windowTitle() == IdleTitle,
                             PassTimeoutMs);
  }
  void clickNumber(int row) {
    QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, centre(0, row));
  }
  QPoint centre(int col, int row) const { return grid()->cellRect(col, row).center(); }
  LoopGrid* grid() const { return form_->StringGrid1; }
  QString cell(int col, int row) const { return grid()->cell(col, row); }
  TRSSession& session() { return form_->RSSession1(); }
  std::string path(const char* name) const { return env_.path(name).toStdString(); }
  void writePortIndex(const char* value) {
    QVERIFY(ProfileFile(path("pcom.ini")).writeString("Port", "Num", value));
  }
  int readPortIndex() const { return ProfileFile(path("pcom.ini")).readInt("Port", "Num", -1); }
  static QString number(QString text) {
    return text.replace(QLatin1Char('.'), QLatin1Char(userDecimalSeparator()));
  }

  const testing::PrivateEnvironment& env_;
  std::unique_ptr<testing::SimulatorServer> server_;
  std::unique_ptr<TForm1> form_;
};

int main(int argc, char* argv[]) {
  testing::PrivateEnvironment env;
  QApplication app(argc, argv);
  SessionTest test(env);
  return QTest::qExec(&test, argc, argv);
}

#include "gui_session_test.moc"
