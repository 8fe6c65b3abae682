// The main window without a bus: its start state, the view switch, `clear`,
// marking loops with the mouse and the period field.

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QToolButton>
#include <atomic>
#include <thread>

#include "gui_test_support.h"
#include "monitor/gui_controls.h"
#include "monitor/loop_grid.h"
#include "monitor/qt_dispatcher.h"
#include "monitor/unit1.h"

using namespace loopmon;

class WindowTest : public QObject {
  Q_OBJECT
 public:
  explicit WindowTest(const testing::PrivateEnvironment& env) : env_(env) {}

 private slots:
  void init() {
    form_ = std::make_unique<TForm1>(Platform::system(),
                                     TForm1::Files{env_.path("ohmgauge.kft").toStdString(),
                                                   env_.path("pcom.ini").toStdString()});
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
  }
  void cleanup() { form_.reset(); }

  void startState() {
    TForm1& f = *form_;
    QCOMPARE(f.windowTitle(), QStringLiteral("Состояние шлейфов приборов:"));
    QCOMPARE(f.size(), QSize(311, 434));
    QCOMPARE(f.Label1->text(), QStringLiteral("Прибор не выбран."));
    const std::pair<QWidget*, QRect> rectangles[] = {
        {f.btnSearch, {8, 3, 25, 25}},       {f.StringGrid1, {8, 32, 295, 362}},
        {f.BitBtn2, {8, 399, 94, 25}},       {f.pACP, {106, 400, 40, 24}},
        {f.pSS, {144, 399, 40, 25}},         {f.btnTools, {190, 399, 25, 25}},
        {f.SpeedButton, {216, 399, 25, 25}}, {f.sePeriod, {248, 398, 57, 26}}};
    for (const auto& [widget, rect] : rectangles) QCOMPARE(widget->geometry(), rect);
    QVERIFY(f.btnSearch->isEnabled() && f.btnTools->isEnabled());
    QVERIFY(!f.BitBtn2->isEnabled() && !f.SpeedButton->isEnabled() && !f.sePeriod->isEnabled());
    QVERIFY(f.pACP->isLowered() && !f.pSS->isLowered());
    QCOMPARE(f.sePeriod->value(), 1);
    QCOMPARE(f.StringGrid1->rowCount(), 1);
    QCOMPARE(f.StringGrid1->cell(1, 0), QStringLiteral("Показание АЦП"));
    QCOMPARE(f.StringGrid1->colWidth(0), 90);
    QCOMPARE(f.StringGrid1->colWidth(1), 120);
    QCOMPARE(f.StringGrid1->colWidth(2), 77);
    QVERIFY(!f.readingScheduled());
  }

  void viewSwitchEmptiesTheValuesOfEveryRow() {
    TForm1& f = *form_;
    fillTable(5);
    QTest::mouseClick(f.pSS, Qt::LeftButton);
    QVERIFY(f.pSS->isLowered() && !f.pACP->isLowered());
    QCOMPARE(f.StringGrid1->cell(0, 0), QStringLiteral("Номер ШС"));
    QCOMPARE(f.StringGrid1->cell(1, 0), QStringLiteral("Состояние ШС"));
    QCOMPARE(f.StringGrid1->cell(2, 0), QString());
    for (int row = 1; row < 5; ++row) {
      QCOMPARE(f.StringGrid1->cell(0, row), QString::number(row));
      QCOMPARE(f.StringGrid1->cell(1, row), QString());
      QCOMPARE(f.StringGrid1->cell(2, row), QString());
    }
    for (int col = 0; col < LoopGrid::ColCount; ++col) QCOMPARE(f.StringGrid1->colWidth(col), 144);

    fillTable(5);
    QTest::mouseClick(f.pSS, Qt::LeftButton);  // the pressed panel repeats the switch
    QCOMPARE(f.StringGrid1->cell(1, 2), QString());
    QTest::mouseClick(f.pACP, Qt::LeftButton);
    QVERIFY(f.pACP->isLowered() && !f.pSS->isLowered());
    QCOMPARE(f.StringGrid1->cell(2, 0), QStringLiteral("R кОм"));
    QCOMPARE(f.StringGrid1->colWidth(2), 77);
  }

  void clearLeavesColumnTwoAndRowsFromTwenty() {
    TForm1& f = *form_;
    fillTable(25);
    f.clear();
    for (int row = 0; row < 20; ++row) {
      QCOMPARE(f.StringGrid1->cell(0, row), QString());
      QCOMPARE(f.StringGrid1->cell(1, row), QString());
      QCOMPARE(f.StringGrid1->cell(2, row), QStringLiteral("r%1").arg(row));
    }
    QCOMPARE(f.StringGrid1->cell(0, 20), QStringLiteral("20"));
    QCOMPARE(f.StringGrid1->cell(1, 24), QStringLiteral("v24"));
  }

  void clickingANumberFlipsItsMark() {
    fillTable(21);
    press(0, 4);
    release(0, 4);
    QCOMPARE(marks(), QList<int>{4});
    QCOMPARE(form_->MarkValue, 1);
    press(0, 4);
    release(0, 4);
    QCOMPARE(marks(), QList<int>{});
    // The heading row and the value columns carry no marks.
    press(0, 0);
    release(0, 0);
    press(1, 6);
    release(1, 6);
    press(3, 6);
    release(3, 6);
    QCOMPARE(marks(), QList<int>{});
  }

  void dragMarksEveryRowBetweenPressAndRelease() {
    fillTable(21);
    press(0, 3);
    QTest::mouseMove(viewport(), cellCentre(0, 5));
    QTest::mouseMove(viewport(), cellCentre(1, 7));
    release(1, 8);
    QCOMPARE(marks(), (QList<int>{3, 4, 5, 6, 7, 8}));
    // Unmarking drags paint the value of the first row: 0.
    press(0, 6);
    release(0, 4);
    QCOMPARE(marks(), (QList<int>{3, 7, 8}));
  }

  void releaseAboveTheCellsFillsUpToTheFirstLoop() {
    fillTable(21);
    press(0, 5);
    QTest::mouseRelease(viewport(), Qt::LeftButton, {}, QPoint(10, -6));
    QCOMPARE(marks(), (QList<int>{1, 2, 3, 4, 5}));
  }

  void releaseWithoutAMarkingPressMarksNothing() {
    fillTable(21);
    press(0, 2);
    release(0, 2);
    press(1, 9);
    release(0, 12);
    QTest::mousePress(viewport(), Qt::RightButton, {}, cellCentre(0, 14));
    QTest::mouseRelease(viewport(), Qt::RightButton, {}, cellCentre(0, 16));
    QCOMPARE(marks(), QList<int>{2});
  }

  void markedNumbersAreDrawnRed() {
    fillTable(21);
    press(0, 3);
    release(0, 3);
    const QImage image = viewport()->grab().toImage();
    auto colourAt = [&](int row) {
      const QRect rect = form_->StringGrid1->cellRect(0, row);
      return image.pixelColor(rect.right() - 3, rect.center().y());
    };
    QCOMPARE(colourAt(3), QColor(255, 0, 0));
    QVERIFY(colourAt(2) != QColor(255, 0, 0));
  }

  void periodTakesDigitsOnlyAndStaysInRange() {
    FilteredSpinEdit* period = form_->sePeriod;
    period->setEnabled(true);
    period->setFocus();
    QTest::keyClicks(period, "x-");
    QCOMPARE(period->value(), 1);
    period->selectAll();
    QTest::keyClicks(period, "45");
    QCOMPARE(period->value(), 30);
    period->selectAll();
    QTest::keyClicks(period, "0");
    QCOMPARE(period->value(), 1);
    period->selectAll();
    QTest::keyClicks(period, "7");
    QCOMPARE(form_->PeriodSeconds(), 7);
  }

  void ownerDispatcherRunsCallsOnTheGuiThread() {
    QtOwnerDispatcher dispatcher;
    QThread* ranOn = nullptr;
    dispatcher.invokeSync([&] { ranOn = QThread::currentThread(); });
    QCOMPARE(ranOn, qApp->thread());

    // From a worker the call waits for the GUI thread's event loop to run it.
    std::atomic<bool> returned{false};
    std::thread worker([&] {
      dispatcher.invokeSync([&] { ranOn = QThread::currentThread(); });
      returned = true;
    });
    QTRY_VERIFY(returned.load());
    worker.join();
    QCOMPARE(ranOn, qApp->thread());
  }

 private:
  QWidget* viewport() const { return form_->StringGrid1->viewport(); }
  QPoint cellCentre(int col, int row) const {
    return form_->StringGrid1->cellRect(col, row).center();
  }
  void press(int col, int row) {
    QTest::mousePress(viewport(), Qt::LeftButton, {}, cellCentre(col, row));
  }
  void release(int col, int row) {
    QTest::mouseRelease(viewport(), Qt::LeftButton, {}, cellCentre(col, row));
  }
  QList<int> marks() const {
    QList<int> rows;
    for (int row = 0; row < form_->StringGrid1->rowCount(); ++row) {
      if (form_->StringGrid1->mark(row) != 0) rows << row;
    }
    return rows;
  }
  void fillTable(int rows) {
    LoopGrid* grid = form_->StringGrid1;
    grid->setRowCount(rows);
    for (int row = 1; row < rows; ++row) {
      grid->setCell(0, row, QString::number(row));
      grid->setCell(1, row, QStringLiteral("v%1").arg(row));
    }
    for (int row = 0; row < rows; ++row) grid->setCell(2, row, QStringLiteral("r%1").arg(row));
  }

  const testing::PrivateEnvironment& env_;
  std::unique_ptr<TForm1> form_;
};

int main(int argc, char* argv[]) {
  testing::PrivateEnvironment env;
  QApplication app(argc, argv);
  WindowTest test(env);
  return QTest::qExec(&test, argc, argv);
}

#include "gui_window_test.moc"
