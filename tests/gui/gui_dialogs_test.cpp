// The password and calibration dialogs over a coefficients file of their own.

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "common/number_text.h"
#include "gui_test_support.h"
#include "monitor/message_box.h"
#include "monitor/u_kalibr.h"
#include "monitor/u_pasw.h"

using namespace loopmon;

class DialogsTest : public QObject {
  Q_OBJECT
 public:
  explicit DialogsTest(const testing::PrivateEnvironment& env) : env_(env) {}

 private slots:
  void init() {
    QFile::remove(env_.path("ohmgauge.kft"));
    device_ = {};
    store_ = std::make_unique<CoefficientsStore>(env_.path("ohmgauge.kft").toStdString(), ',');
    kalibr_ = std::make_unique<TfrmKalibr>([this] { return device_; }, *store_, ',');
    password_ = std::make_unique<TfrmPassword>(*kalibr_);
  }
  void cleanup() {
    password_.reset();
    kalibr_.reset();
    store_.reset();
  }

  void wrongOrEmptyCodeClosesSilently() {
    testing::BoxCapture boxes;
    for (const QString& code : {QStringLiteral("1234"), QString(), QStringLiteral("48205917 ")}) {
      enterCode(code);
      QVERIFY(!kalibr_->isVisible());
      QCOMPARE(password_->MaskEdit1->text(), QString());
    }
    QVERIFY(boxes.boxes.empty());
  }

  void rightCodeShowsTheCalibration() {
    enterCode(QString::fromLatin1(AccessCode));
    QVERIFY(kalibr_->isVisible());
    QVERIFY(!password_->isVisible());
    QCOMPARE(password_->MaskEdit1->text(), QString());
  }

  void activationRefillsTheStoredSection() {
    store_->Save(1, 160, 0, "", {"200", "100", "1,04", "3,08"});
    device_ = {5, 1, 160};
    kalibr_->FormActivate();
    QCOMPARE(kalibr_->cbType->currentText(), QStringLiteral("Mivra-Q"));
    QCOMPARE(kalibr_->edVersion->text(), QStringLiteral("1,60"));
    QCOMPARE(kalibr_->edACP1->text(), QStringLiteral("200"));
    QCOMPARE(kalibr_->edACP2->text(), QStringLiteral("100"));
    QCOMPARE(kalibr_->edR1->text(), QStringLiteral("1,04"));
    QCOMPARE(kalibr_->edR2->text(), QStringLiteral("3,08"));

    device_ = {6, 2, 105};  // nothing stored for it
    kalibr_->FormActivate();
    QCOMPARE(kalibr_->cbType->currentIndex(), -1);
    for (QLineEdit* edit :
         {kalibr_->edVersion, kalibr_->edACP1, kalibr_->edACP2, kalibr_->edR1, kalibr_->edR2}) {
      QCOMPARE(edit->text(), QString());
    }
  }

  void enterWithoutTypeAndVersionGivesBothMessagesAndCloses() {
    testing::BoxCapture boxes;
    kalibr_->show();
    kalibr_->cbType->setCurrentIndex(-1);
    kalibr_->edVersion->clear();
    kalibr_->edR1->setText("1");
    QTest::mouseClick(kalibr_->bEnter, Qt::LeftButton);
    QCOMPARE(boxes.texts(), (QStringList{QStringLiteral("Введенный тип прибора неподдерживается"),
                                         QStringLiteral("Не введена версия прибора")}));
    for (const testing::CapturedBox& box : boxes.boxes) {
      QCOMPARE(box.caption, QStringLiteral("Error"));
      QCOMPARE(box.icon, QMessageBox::Critical);
    }
    QVERIFY(!kalibr_->isVisible());
    QVERIFY(!QFile::exists(env_.path("ohmgauge.kft")));
  }

  void aFailedConversionOrDivisionKeepsTheDialogOpen_data() {
    QTest::addColumn<QString>("acp2");
    QTest::addColumn<QString>("r1");
    QTest::addColumn<QString>("message");
    QTest::newRow("R1 not a number") << "100"
                                     << "abc"
                                     << "'abc' is not a valid floating point value";
    QTest::newRow("R1 with a point") << "100"
                                     << "1.04"
                                     << "'1.04' is not a valid floating point value";
    QTest::newRow("ACP2 not a number") << "1x"
                                       << "1,04"
                                       << "'1x' is not a valid integer value";
    QTest::newRow("equal readings") << "200"
                                    << "1,04"
                                    << "Floating point division by zero";
  }

  void aFailedConversionOrDivisionKeepsTheDialogOpen() {
    QFETCH(QString, acp2);
    QFETCH(QString, r1);
    QFETCH(QString, message);
    testing::BoxCapture boxes;
    kalibr_->show();
    kalibr_->cbType->setCurrentIndex(0);
    kalibr_->edVersion->setText("1,05");
    kalibr_->edACP1->setText("200");
    kalibr_->edACP2->setText(acp2);
    kalibr_->edR2->setText("3,08");
    kalibr_->edR1->blockSignals(true);  // the text as pasted, no comma turn
    kalibr_->edR1->setText(r1);
    kalibr_->edR1->blockSignals(false);
    kalibr_->bEnterClick();
    QCOMPARE(boxes.texts(), QStringList{message});
    QCOMPARE(boxes.boxes[0].caption, applicationTitle());
    QVERIFY(kalibr_->isVisible());
    QCOMPARE(kalibr_->edACP2->text(), acp2);
    QVERIFY(!QFile::exists(env_.path("ohmgauge.kft")));
  }

  void withoutADeviceTheDialogNamesTheSection() {
    kalibr_->show();
    kalibr_->cbType->setCurrentIndex(kalibr_->cbType->findText("Mivra-QW"));
    kalibr_->edVersion->setText("1,05");
    kalibr_->edACP1->setText("200");
    kalibr_->edACP2->setText("100");
    kalibr_->edR1->setText("1,04");
    kalibr_->edR2->setText("3,08");
    kalibr_->bEnterClick();
    QVERIFY(!kalibr_->isVisible());
    const auto points = store_->LoadPoints(11, 105);
    QVERIFY(points.has_value());
    QCOMPARE(points->R2, std::string("3,08"));
    const Coefficients c = store_->Lookup(11, 105);
    QCOMPARE(c.a, 408.0);
    QCOMPARE(c.b, -1.0);
  }

  void aTypedTrailingPointBecomesTheSeparator() {
    kalibr_->show();
    kalibr_->edR1->setFocus();
    QTest::keyClicks(kalibr_->edR1, "3.5");
    QCOMPARE(kalibr_->edR1->text(), QStringLiteral("3,5"));
    kalibr_->edR2->setText("3.55");  // a point that is not the last character stays
    QCOMPARE(kalibr_->edR2->text(), QStringLiteral("3.55"));
    QTest::keyClicks(kalibr_->edVersion, "1.");
    QCOMPARE(kalibr_->edVersion->text(), QStringLiteral("1,"));
    QTest::keyClicks(kalibr_->edACP1, "2.");
    QCOMPARE(kalibr_->edACP1->text(), QStringLiteral("2."));
  }

 private:
  // Opens the password dialog modally, types the code and presses Ok.
  void enterCode(const QString& code) {
    QString shown;
    QTimer::singleShot(0, this, [this, code, &shown] {
      QTest::keyClicks(password_->MaskEdit1, code);
      shown = password_->MaskEdit1->displayText();
      QTest::mouseClick(password_->btnOk, Qt::LeftButton);
    });
    password_->exec();
    QCOMPARE(shown, QString(code.size(), QLatin1Char('#')));
  }

  const testing::PrivateEnvironment& env_;
  SelectedDevice device_;
  std::unique_ptr<CoefficientsStore> store_;
  std::unique_ptr<TfrmKalibr> kalibr_;
  std::unique_ptr<TfrmPassword> password_;
};

int main(int argc, char* argv[]) {
  testing::PrivateEnvironment env;
  QApplication app(argc, argv);
  DialogsTest test(env);
  return QTest::qExec(&test, argc, argv);
}

#include "gui_dialogs_test.moc"
