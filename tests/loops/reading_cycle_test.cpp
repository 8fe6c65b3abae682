#include "loops/reading_cycle.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "fake_platform.h"
#include "held_bus.h"
#include "loops/loop_decode.h"
#include "session/bus_runner.h"
#include "session/session.h"

using namespace loopmon;

namespace {

// The window as a log: every visible effect is recorded in `events` in order.
class FakeView : public LoopTableView {
 public:
  SelectedDevice device{5, 1, 100};  // a = 408, b = -1 from the built-in table
  int rows = 1;
  std::map<std::pair<int, int>, std::string> cells;
  std::set<int> marks;
  bool adcView = true;
  bool periodic = false;
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
  bool AdcView() const override { return adcView; }
  bool PeriodicOn() const override { return periodic; }
  int PeriodSeconds() const override { return 1; }
  void ClearTable() override { cells.clear(); }
  void SetCaption(const std::string& caption) override { events.push_back("caption " + caption); }
  void ShowMessage(const std::string& text) override { events.push_back("message " + text); }
  std::string row(int r) const { return Cell(0, r) + "|" + Cell(1, r) + "|" + Cell(2, r); }
};

class ReadingCycleTest : public ::testing::Test {
 protected:
  ReadingCycleTest() {
    fake.line->setResponder([this](const Bytes& request) -> std::optional<Bytes> {
      requests.push_back(Bytes(request.begin(), request.begin() + 6));
      const auto it = answers.find({request[3], request[4]});
      if (it == answers.end()) return std::nullopt;
      Bytes answer{request[0], 5, it->second[0], it->second[1], it->second[2]};
      answer.push_back(FrameChecksum(answer));
      return answer;
    });
  }
  TickResult tick() {
    TickResult result;
    cycle.Tick([&](TickResult r) { result = r; });
    return result;
  }
  // Ticks until the host would leave its timer off.
  void runPass() {
    for (int ticks = 0; ticks < 1000; ++ticks) {
      if (!tick().enableTimer) return;
    }
  }
  // Code, first and second data byte of the answer to (command, loop); none: silent.
  std::map<std::pair<uint8_t, uint8_t>, std::array<uint8_t, 3>> answers;
  std::vector<Bytes> requests;

  loopmon::testing::FakePlatform fake;
  TRSSession session{fake.platform()};
  InlineBus bus{session};
  FakeView view;
  CoefficientsStore store{"/nonexistent-folder/ohmgauge.kft", ','};
  ReadingCycle cycle{view, bus, store, ','};
};

}  // namespace

TEST_F(ReadingCycleTest, AdcPassSkipsMarksShowsFailuresAndEnds) {
  view.rows = 6;
  view.marks = {5};
  cycle.Start();
  view.cells[{2, 4}] = "old";
  answers = {{{0x1B, 1}, {0x1C, 1, 100}}, {{0x1B, 2}, {0x1C, 2, 0}}, {{0x1B, 3}, {0x1C, 3, 255}}};

  EXPECT_TRUE(tick().enableTimer);
  EXPECT_EQ(view.events[0], "caption Состояние шлейфов приборов: ШС №1");
  runPass();
  EXPECT_EQ(view.events.back(), "caption Состояние шлейфов приборов");
  EXPECT_EQ(cycle.CurLoop(), 1);
  EXPECT_EQ(requests.front(), (Bytes{5, 6, 0, 0x1B, 1, 0}));
  EXPECT_EQ(view.row(1), "1|100|3,1");
  EXPECT_EQ(view.row(2), "2|0|Обрыв");
  EXPECT_EQ(view.row(3), "3|255|КЗ");
  EXPECT_EQ(view.row(4), "4|false|old") << "a failure keeps the previous resistance";
  EXPECT_EQ(view.row(5), "5||");
  EXPECT_EQ(requests.back()[4], 4) << "the marked loop 5 sent nothing";

  // A device without loop rows: the first tick reads loop 1 and ends the pass.
  view.rows = 1;
  cycle.Start();
  requests.clear();
  EXPECT_FALSE(tick().enableTimer);
  EXPECT_EQ(requests.front(), (Bytes{5, 6, 0, 0x1B, 1, 0}));
  EXPECT_EQ(view.events.back(), "caption Состояние шлейфов приборов");

  // A restart while a tick's answer is still on its way drops that answer.
  view.rows = 6;
  cycle.Start();
  view.events.clear();
  loopmon::testing::HeldBus held;
  ReadingCycle restarted(view, held, store, ',');
  restarted.Start();
  bool done = false;
  restarted.Tick([&](TickResult) { done = true; });
  restarted.Start();
  held.held.front().done(nullptr);
  EXPECT_FALSE(done);
  EXPECT_EQ(view.Cell(1, 1), "");
}

TEST_F(ReadingCycleTest, LineControllerAsksForTheKindAndReportsAStrangeAnswer) {
  view.device = {9, 9, 100};
  view.rows = 5;
  cycle.Start();
  answers = {{{0x1B, 1}, {0x1C, 1, 160}},
             {{0x39, 1}, {BusAnswer::LineDevice, 1, 5}},
             {{0x1B, 2}, {0x1C, 2, 40}},
             {{0x39, 2}, {0x0A, 1, 5}},
             {{0x1B, 3}, {0x1C, 3, 50}},
             {{0x1B, 4}, {0x1A, 4, 50}},
             {{0x39, 4}, {BusAnswer::LineDevice, 1, 5}}};
  view.cells[{2, 3}] = "old";
  runPass();
  EXPECT_EQ(requests[1], (Bytes{9, 6, 0, 0x39, 1, 1}));
  EXPECT_EQ(view.Cell(2, 1), "Пожар замк.");
  EXPECT_EQ(view.row(2), "2|40|");
  EXPECT_EQ(view.Cell(2, 3), "") << "a failed kind request empties the cell, silently";
  EXPECT_EQ(view.row(4), "4|false|") << "an answer of another kind is no reading";
  EXPECT_EQ(requests.back(), (Bytes{9, 6, 0, 0x1B, 4, 0})) << "and asks for no kind";

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

TEST_F(ReadingCycleTest, PeriodicPassesOverwriteTheTableAndBlankMarkedRows) {
  view.rows = 4;
  view.periodic = true;
  for (int row = 1; row <= 3; ++row) {
    view.cells[{0, row}] = std::to_string(row);
    view.cells[{1, row}] = "90";
    view.cells[{2, row}] = "3,5";
  }
  view.marks = {2};
  cycle.Start();
  EXPECT_EQ(view.row(2), "2|90|3,5") << "a periodic start keeps the table";
  answers = {{{0x1B, 1}, {0x1C, 1, 100}}, {{0x1B, 3}, {0x1C, 3, 200}}};
  TickResult result;
  for (int ticks = 0; ticks < 3; ++ticks) result = tick();
  EXPECT_TRUE(result.enableTimer);
  EXPECT_EQ(result.waitBeforeEnableMs, 1000);
  EXPECT_EQ(view.row(1), "1|100|3,1");
  EXPECT_EQ(view.row(2), "2||") << "a marked loop keeps no stale reading";
  EXPECT_EQ(view.row(3), "3|200|1,0");

  // The state view writes column 1 only.
  view.adcView = false;
  view.marks = {};
  answers = {{{0x19, 1}, {0x1A, 1, 24}}, {{0x19, 2}, {0x1A, 2, 0}}, {{0x19, 3}, {0x1A, 3, 187}}};
  for (int ticks = 0; ticks < 3; ++ticks) tick();
  EXPECT_EQ(requests.back(), (Bytes{5, 6, 0, 0x19, 3, 0}));
  EXPECT_EQ(view.row(1), "1|на охране|3,1");
  EXPECT_EQ(view.row(2), "2||");
  EXPECT_EQ(view.row(3), "3|отключен|1,0");
}
