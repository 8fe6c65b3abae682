#include "loops/reading_cycle.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <set>

#include "loops/loop_decode.h"

using namespace loopmon;

namespace {

// The window as a log: every visible effect is recorded in `events` in order.
class FakeView : public LoopTableView {
 public:
  SelectedDevice device{5, 1, 100};  // a = 408, b = -1 from the built-in table
  int rows = 1;
  std::map<std::pair<int, int>, std::string> cells;
  std::set<int> marks;
  std::vector<std::string> events;

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
  bool AdcView() const override { return true; }
  bool PeriodicOn() const override { return false; }
  int PeriodSeconds() const override { return 1; }
  void ClearTable() override { cells.clear(); }
  void SetCaption(const std::string& caption) override { events.push_back("caption " + caption); }
  void ShowMessage(const std::string& text) override { events.push_back("message " + text); }
  void ProcessPendingEvents() override {}
  void RepaintTable() override {}
  std::string row(int r) const { return Cell(0, r) + "|" + Cell(1, r) + "|" + Cell(2, r); }
};

// Answers requests from a queue: an empty entry is a failed request.
class FakeRequester : public LoopRequester {
 public:
  std::deque<std::optional<Bytes>> answers;
  std::vector<Bytes> requests;

  bool DirectRequest(const Bytes& request, uint8_t) override {
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

class ReadingCycleTest : public ::testing::Test {
 protected:
  // Ticks until the host would leave its timer off.
  void runPass() {
    for (int ticks = 0; ticks < 1000; ++ticks) {
      if (!cycle.Tick().enableTimer) return;
    }
  }

  FakeView view;
  FakeRequester bus;
  CoefficientsStore store{"/nonexistent-folder/ohmgauge.kft", ','};
  ReadingCycle cycle{view, bus, store, ','};
};

}  // namespace

TEST_F(ReadingCycleTest, AdcPassSkipsMarksShowsFailuresAndEnds) {
  view.rows = 7;
  view.marks = {5};
  cycle.Start();
  view.cells[{2, 4}] = "old";
  bus.answers = {answerWith(100), answerWith(0), answerWith(255), std::nullopt, Bytes{5, 6, 0, 0}};

  EXPECT_TRUE(cycle.Tick().enableTimer);
  EXPECT_EQ(view.events[0], "caption Состояние шлейфов приборов: ШС №1");
  runPass();
  EXPECT_EQ(view.events.back(), "caption Состояние шлейфов приборов");
  EXPECT_EQ(cycle.CurLoop(), 1);
  ASSERT_EQ(bus.requests.size(), 5u);
  EXPECT_EQ(bus.requests[0], (Bytes{5, 6, 0, 0x1B, 1, 0}));
  EXPECT_EQ(bus.requests[4][4], 6);
  EXPECT_EQ(view.row(1), "1|100|3,1");
  EXPECT_EQ(view.row(2), "2|0|Обрыв");
  EXPECT_EQ(view.row(3), "3|255|КЗ");
  EXPECT_EQ(view.row(4), "4|false|old") << "a failure keeps the previous resistance";
  EXPECT_EQ(view.row(5), "5||");
  EXPECT_EQ(view.row(6), "?|?|?");

  // A device without loop rows: the first tick reads loop 1 and ends the pass.
  view.rows = 1;
  cycle.Start();
  bus.answers = {answerWith(100)};
  EXPECT_FALSE(cycle.Tick().enableTimer);
  EXPECT_EQ(bus.requests.back(), (Bytes{5, 6, 0, 0x1B, 1, 0}));
  EXPECT_EQ(view.events.back(), "caption Состояние шлейфов приборов");
}

TEST_F(ReadingCycleTest, LineControllerAsksForTheKindAndReportsAStrangeAnswer) {
  view.device = {9, 9, 100};
  view.rows = 4;
  cycle.Start();
  bus.answers = {answerWith(160), Bytes{5, 7, BusAnswer::LineDevice, 1, 5, 0, 0},
                 answerWith(40),  Bytes{5, 7, 0x0A, 1, 5, 0, 0},
                 answerWith(50),  std::nullopt};
  view.cells[{2, 3}] = "old";
  runPass();
  EXPECT_EQ(bus.requests[1], (Bytes{9, 6, 0, 0x39, 1, 1}));
  EXPECT_EQ(view.Cell(2, 1), "Пожар замк.");
  EXPECT_EQ(view.row(2), "2|40|");
  EXPECT_EQ(view.Cell(2, 3), "") << "a failed kind request empties the cell, silently";

  // The box comes after column 1 shows the reading and before column 2 changes.
  const auto at = [&](const std::string& e) {
    return std::find(view.events.begin(), view.events.end(), e) - view.events.begin();
  };
  const auto box = at("message Возможно команда не поддерживается: 10");
  EXPECT_LT(at("cell 1,2=40"), box);
  EXPECT_LT(box, at("cell 2,2="));
  EXPECT_EQ(std::count_if(view.events.begin(), view.events.end(),
                          [](const std::string& e) { return e[0] == 'm'; }),
            1);
}
