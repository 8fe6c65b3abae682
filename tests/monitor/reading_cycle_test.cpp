#include "monitor/reading_cycle.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>

#include <unistd.h>

#include "common/number_text.h"
#include "monitor/loop_decode.h"

using namespace loopmon;

namespace {

// The window as a log: every visible effect is recorded in `events` in order.
class FakeView : public LoopTableView {
 public:
  SelectedDevice device;
  int rows = 1;
  std::map<std::pair<int, int>, std::string> cells;
  std::set<int> marks;
  bool adcView = true;
  bool periodic = false;
  int periodSeconds = 1;
  std::vector<std::string> events;
  std::function<void()> onEvents;  // user input handled inside the tick

  SelectedDevice Device() const override { return device; }
  int RowCount() const override { return rows; }
  std::string Cell(int column, int row) const override {
    const auto it = cells.find({column, row});
    return it == cells.end() ? "" : it->second;
  }
  void SetCell(int column, int row, const std::string& text) override {
    cells[{column, row}] = text;
    events.push_back("cell " + std::to_string(column) + "," + std::to_string(row) + "=" + text);
  }
  bool SkipMark(int row) const override { return marks.count(row) != 0; }
  bool AdcView() const override { return adcView; }
  bool PeriodicOn() const override { return periodic; }
  int PeriodSeconds() const override { return periodSeconds; }
  void ClearTable() override {
    cells.clear();
    events.push_back("clear");
  }
  void SetCaption(const std::string& caption) override { events.push_back("caption " + caption); }
  void ShowMessage(const std::string& text) override { events.push_back("message " + text); }
  void ProcessPendingEvents() override {
    if (onEvents) onEvents();
  }
  void RepaintTable() override {}

  std::vector<std::string> cellWrites(int column) const {
    std::vector<std::string> writes;
    const std::string prefix = "cell " + std::to_string(column) + ",";
    for (const auto& e : events) {
      if (e.rfind(prefix, 0) == 0) writes.push_back(e);
    }
    return writes;
  }
};

// Answers requests from a queue: an empty entry is a failed request.
class FakeRequester : public LoopRequester {
 public:
  std::deque<std::optional<Bytes>> answers;
  std::vector<Bytes> requests;

  bool DirectRequest(const Bytes& request, uint8_t mode) override {
    EXPECT_EQ(mode, 1);
    requests.push_back(request);
    last_.clear();
    if (answers.empty()) return false;
    const auto answer = answers.front();
    answers.pop_front();
    if (answer) last_ = *answer;
    return answer.has_value();
  }
  const Bytes& LastAnswer() const override { return last_; }

 private:
  Bytes last_;
};

Bytes answerWith(uint8_t byte4) {
  return {5, 7, 0, 0, byte4, 0, 0};
}
Bytes kindAnswer(uint8_t code, uint8_t answerClass, uint8_t value) {
  return {5, 7, code, answerClass, value, 0, 0};
}

class ReadingCycleTest : public ::testing::Test {
 protected:
  // Type 1 below version 155 reads with a = 408, b = -1 from the built-in table.
  void SetUp() override { view.device = {5, 1, 100}; }

  // Ticks until the host would leave its timer off or start a wait.
  TickResult runPass() {
    TickResult result;
    for (int ticks = 0; ticks < 1000; ++ticks) {
      result = cycle.Tick();
      if (!result.enableTimer || result.waitBeforeEnableMs != 0) break;
    }
    return result;
  }

  FakeView view;
  FakeRequester bus;
  CoefficientsStore store{"/nonexistent-folder/ohmgauge.kft", ','};
  ReadingCycle cycle{view, bus, store, ','};
};

}  // namespace

TEST_F(ReadingCycleTest, AdcViewPass) {
  view.rows = 6;
  view.marks = {5};
  cycle.Start();
  EXPECT_EQ(view.events.front(), "clear");
  view.cells[{2, 4}] = "old";
  bus.answers = {answerWith(100), answerWith(0), answerWith(255), std::nullopt};

  EXPECT_TRUE(cycle.Tick().enableTimer);
  EXPECT_EQ(view.events[1], "caption Состояние шлейфов приборов: ШС №1");
  const TickResult last = runPass();
  EXPECT_FALSE(last.enableTimer);
  EXPECT_EQ(view.events.back(), "caption Состояние шлейфов приборов");
  EXPECT_EQ(cycle.CurLoop(), 1);

  ASSERT_EQ(bus.requests.size(), 4u) << "the marked loop is not read";
  for (int loop = 1; loop <= 4; ++loop) {
    EXPECT_EQ(bus.requests[loop - 1], (Bytes{5, 6, 0, 0x1B, uint8_t(loop), 0}));
  }
  const auto row = [&](int r) {
    return view.Cell(0, r) + "|" + view.Cell(1, r) + "|" + view.Cell(2, r);
  };
  EXPECT_EQ(row(1), "1|100|3,1");
  EXPECT_EQ(row(2), "2|0|Обрыв");
  EXPECT_EQ(row(3), "3|255|КЗ");
  EXPECT_EQ(row(4), "4|false|old") << "a failure keeps the previous resistance";
  EXPECT_EQ(row(5), "5||") << "a marked row keeps its number and shows nothing";
}

TEST_F(ReadingCycleTest, StateViewNeverTouchesColumnTwo) {
  view.rows = 5;
  view.adcView = false;
  view.cells[{2, 1}] = "kept";
  cycle.Start();
  view.cells[{2, 1}] = "kept";
  bus.answers = {answerWith(24), answerWith(0), answerWith(255), answerWith(3)};
  runPass();
  EXPECT_EQ(bus.requests[0], (Bytes{5, 6, 0, 0x19, 1, 0}));
  EXPECT_EQ(view.Cell(1, 1), "на охране");
  EXPECT_EQ(view.Cell(1, 2), "");
  EXPECT_EQ(view.Cell(1, 3), "");
  EXPECT_EQ(view.Cell(1, 4), "тревога");
  EXPECT_TRUE(view.cellWrites(2).empty());
  EXPECT_EQ(view.Cell(2, 1), "kept");
}

TEST_F(ReadingCycleTest, ShortAnswerShowsQuestionMarks) {
  view.rows = 2;
  cycle.Start();
  bus.answers = {Bytes{5, 6, 0, 0}};
  runPass();
  EXPECT_EQ(view.Cell(0, 1) + view.Cell(1, 1) + view.Cell(2, 1), "???");
}

TEST_F(ReadingCycleTest, DeviceWithoutLoopRowsStillReadsLoopOne) {
  view.rows = 1;
  cycle.Start();
  bus.answers = {answerWith(100)};
  const TickResult result = cycle.Tick();
  EXPECT_FALSE(result.enableTimer);
  ASSERT_EQ(bus.requests.size(), 1u);
  EXPECT_EQ(bus.requests[0][4], 1);
  EXPECT_EQ(view.events.back(), "caption Состояние шлейфов приборов");
}

TEST_F(ReadingCycleTest, LineControllerAsksForTheKind) {
  view.device = {9, 9, 100};
  view.rows = 5;
  cycle.Start();
  bus.answers = {answerWith(160), kindAnswer(CodeLineDeviceKind, 1, 5),  // loop 1
                 answerWith(40),  kindAnswer(0x0A, 1, 5),                // loop 2
                 answerWith(50),  std::nullopt,                          // loop 3
                 answerWith(60),  kindAnswer(CodeLineDeviceKind, 0, 3)};
  view.cells[{2, 2}] = "old";
  view.cells[{2, 3}] = "old";
  runPass();
  EXPECT_EQ(bus.requests[1], (Bytes{9, 6, 0, 0x39, 1, 1}));
  EXPECT_EQ(view.Cell(2, 1), "Пожар замк.");
  EXPECT_EQ(view.Cell(1, 2), "40");
  EXPECT_EQ(view.Cell(2, 2), "");
  EXPECT_EQ(view.Cell(2, 3), "") << "a failed kind request empties the cell, silently";
  EXPECT_EQ(view.Cell(2, 4), "? - 3");

  // The box comes after column 1 shows the reading and before column 2 changes.
  const auto at = [&](const std::string& e) {
    return std::find(view.events.begin(), view.events.end(), e) - view.events.begin();
  };
  const auto box = at("message Возможно команда не поддерживается: 10");
  EXPECT_LT(at("cell 1,2=40"), box);
  EXPECT_LT(box, at("cell 2,2="));
  EXPECT_EQ(std::count_if(view.events.begin(), view.events.end(),
                          [](const std::string& e) { return e.rfind("message", 0) == 0; }),
            1);
}

TEST_F(ReadingCycleTest, PeriodicPassAsksForTheWait) {
  view.rows = 3;
  view.periodic = true;
  view.periodSeconds = 7;
  view.cells[{1, 1}] = "previous";
  cycle.Start();
  EXPECT_EQ(view.Cell(1, 1), "previous") << "a periodic reading keeps the table";
  bus.answers = {answerWith(100), answerWith(100), answerWith(100), answerWith(100)};
  const TickResult end = runPass();
  EXPECT_TRUE(end.enableTimer);
  EXPECT_EQ(end.waitBeforeEnableMs, 7000);
  EXPECT_EQ(cycle.CurLoop(), 1);
  EXPECT_EQ(
      std::count(view.events.begin(), view.events.end(), std::string("caption ") + IdleCaption), 0);

  // Released inside a tick: the pass runs on to its end and closes like a single one.
  view.onEvents = [&] { view.periodic = false; };
  EXPECT_TRUE(cycle.Tick().enableTimer);
  EXPECT_FALSE(cycle.Tick().enableTimer);
  EXPECT_EQ(view.events.back(), "caption Состояние шлейфов приборов");
}

TEST_F(ReadingCycleTest, InputBetweenTicksAppliesToTheCurrentLoop) {
  view.rows = 3;
  cycle.Start();
  bus.answers = {answerWith(24), answerWith(24)};
  // Handled at the tick's first event round: before the mark and the view are consulted.
  view.onEvents = [&] {
    view.adcView = false;
    view.marks = {2};
  };
  runPass();
  ASSERT_EQ(bus.requests.size(), 1u);
  EXPECT_EQ(bus.requests[0][3], CmdLoopState);
  EXPECT_EQ(view.Cell(1, 1), "на охране");
}

TEST_F(ReadingCycleTest, BrokenSectionStopsTheStart) {
  const auto folder =
      std::filesystem::temp_directory_path() / ("cycle_test_" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string path = (folder / "ohmgauge.kft").string();
  std::ofstream(path) << "[1-100]\nACP1=200\n";
  const CoefficientsStore broken(path, ',');
  ReadingCycle brokenCycle(view, bus, broken, ',');
  try {
    brokenCycle.Start();
    ADD_FAILURE() << "started";
  } catch (const ConversionError& error) {
    EXPECT_STREQ(error.what(), "'' is not a valid floating point value");
  }
  EXPECT_TRUE(view.events.empty()) << "the table is not cleared";
  std::filesystem::remove_all(folder);
}
