// The main window model's loop history, on a fake line answered by the
// simulated bus of a loopsim scenario whose loop 3 plays a known script: the
// moves counted, the moved marks, and when the history starts afresh.

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "loops/main_window_model.h"
#include "session/bus_runner.h"
#include "session/session.h"
#include "sim/device_model.h"
#include "window_fakes.h"

namespace loopmon {
namespace {

using testing::FakeMainWindow;

// Loop 3 of device 9 rests at 96: 45 is an alarm in the state view and a
// resistance in the ADC view, where 0 is open and 255 short. Device 12 is a
// second one of the same type, steady.
const std::vector<int> Script{96, 45, 0, 96, 255, 45, 96};
const char* const ScriptedBus =
    "[bus]\ndrift = no\n"
    "[device 9]\ntype = 1\nversion = 160\nloop.3 = script 96 45 0 96 255 45 96\n"
    "[device 12]\ntype = 1\nversion = 160\n";

LoopCondition adcCondition(int adc) {
  return adc == 0 ? LoopCondition::Open : adc == 255 ? LoopCondition::Short : LoopCondition::Normal;
}

LoopCondition stateCondition(int adc) {
  return adc == 45 ? LoopCondition::Alarm : LoopCondition::Normal;
}

struct Moves {
  int total = 0;
  std::array<int, LoopConditionCount> into{};
  std::array<int, LoopConditionCount> outOf{};
};

// What the loop did over `readings` reads, the script's `from`-th first.
Moves movesOf(size_t from, size_t readings, LoopCondition (*conditionOf)(int)) {
  Moves moves;
  for (size_t i = 1; i < readings; ++i) {
    const LoopCondition before = conditionOf(Script[(from + i - 1) % Script.size()]);
    const LoopCondition after = conditionOf(Script[(from + i) % Script.size()]);
    if (before == after) continue;
    ++moves.total;
    ++moves.into[static_cast<size_t>(after)];
    ++moves.outOf[static_cast<size_t>(before)];
  }
  return moves;
}

class WindowHistoryTest : public ::testing::Test {
 protected:
  WindowHistoryTest() {
    fake.line->setResponder([this](const Bytes& request) { return simulated.respond(request); });
  }

  void choose(uint8_t address) {
    session.SetDeviceType(address, 1);
    session.DeviceVersions[address] = 160;
    view.chosen = address;
    model.searchClicked();
  }
  // Fires the timer until the model leaves it off or starts a wait.
  void runPass() {
    for (int ticks = 0; ticks < 200 && view.timerMs == TickIntervalMs; ++ticks) model.timerFired();
  }
  void periodicPasses(int passes) {
    model.periodicClicked(true);
    for (int pass = 1; pass <= passes; ++pass) {
      if (pass > 1) model.timerFired();
      runPass();
    }
    model.periodicClicked(false);
  }
  LoopSummary summary(uint8_t address, int loop) const {
    const auto found = model.history().Summary({address, loop});
    return found ? *found : LoopSummary{};
  }

  sim::SimulatedBus simulated{sim::parseScenario(ScriptedBus)};
  testing::FakePlatform fake;
  TRSSession session{fake.platform()};
  InlineBus bus{session};
  CoefficientsStore store{"/nonexistent-folder/ohmgauge.kft", ','};
  FakeMainWindow view;
  MainWindowModel model{view, bus, store, ','};
};

TEST_F(WindowHistoryTest, APeriodicReadingCountsTheMovesTheLoopMade) {
  const struct {
    const char* name;
    bool adcView;
    int passes;
  } cases[] = {
      {"one pass is no move", true, 1},
      {"ADC view: into and out of open and short", true, 6},
      {"ADC view past the script's end", true, 10},
      {"state view: only the alarms move", false, 7},
  };
  size_t played = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Another device's reading in between: the next one starts afresh.
    choose(12);
    model.readClicked();
    runPass();
    choose(9);
    if (c.adcView) {
      model.adcViewClicked();
    } else {
      model.stateViewClicked();
    }
    periodicPasses(c.passes);

    const Moves expected =
        movesOf(played, static_cast<size_t>(c.passes), c.adcView ? adcCondition : stateCondition);
    played += static_cast<size_t>(c.passes);
    const LoopSummary loop = summary(9, 3);
    EXPECT_EQ(loop.readings, static_cast<size_t>(c.passes));
    EXPECT_EQ(loop.moves, expected.total);
    EXPECT_EQ(loop.into, expected.into);
    EXPECT_EQ(loop.outOf, expected.outOf);
    EXPECT_EQ(model.history().Loops().front().address, 9) << "device 12's history is gone";
    EXPECT_EQ(model.history().Loops().size(), 20u);
    for (int row = 1; row <= 20; ++row) {
      EXPECT_EQ(summary(9, row).moves > 0, row == 3 && expected.total > 0) << row;
      EXPECT_EQ(summary(9, row).readings, static_cast<size_t>(c.passes)) << row;
    }
    const std::set<int> moved = expected.total > 0 ? std::set<int>{3} : std::set<int>{};
    EXPECT_EQ(view.moved, moved);
    EXPECT_EQ(model.moved(3), expected.total > 0);
  }
}

TEST_F(WindowHistoryTest, TheHistoryFollowsTheDeviceNotTheReading) {
  choose(9);
  // Three single readings of the ADC view (96 45 0), then two of the state
  // view (96 255): one history, moves judged within each view.
  for (int read = 0; read < 3; ++read) {
    model.readClicked();
    runPass();
  }
  EXPECT_EQ(view.moved, (std::set<int>{3}));
  model.stateViewClicked();
  model.periodChanged(5);
  periodicPasses(2);
  LoopSummary loop = summary(9, 3);
  EXPECT_EQ(loop.readings, 5u);
  EXPECT_EQ(loop.moves, 1) << "into open; the state view's readings make no move";
  ASSERT_TRUE(loop.minimum && loop.maximum);
  const Coefficients c = model.readingCycle().coefficients();
  EXPECT_DOUBLE_EQ(loop.minimum->kiloOhms, c.a / 96 + c.b);
  EXPECT_DOUBLE_EQ(loop.maximum->kiloOhms, c.a / 45 + c.b);

  // The same device chosen again: its history and marks stay.
  choose(9);
  EXPECT_EQ(view.moved, (std::set<int>{3}));
  EXPECT_TRUE(model.moved(3));
  EXPECT_FALSE(model.moved(4));

  // The history of a row opens only for a loop with readings.
  for (int row : {-1, 0, 3, 4, 21}) model.historyClicked(row);
  EXPECT_EQ(view.histories, (std::vector<LoopKey>{{9, 3}, {9, 4}}));
  model.tablePressed(0, 5, true);
  model.tableReleased(5, true);
  model.readClicked();
  runPass();
  view.histories.clear();
  model.historyClicked(5);
  EXPECT_TRUE(model.historyKey(5)) << "read before it was marked";
  EXPECT_EQ(view.histories.size(), 1u);

  // Another device: nothing of device 9 is offered before its reading starts,
  // and the history starts afresh with it.
  choose(12);
  EXPECT_FALSE(model.historyKey(3));
  EXPECT_TRUE(view.moved.empty());
  model.readClicked();
  runPass();
  EXPECT_EQ(model.history().Loops().front().address, 12);
  EXPECT_FALSE(model.history().Summary({9, 3}));
  choose(9);
  EXPECT_FALSE(model.moved(3));
  EXPECT_TRUE(view.moved.empty());
}

}  // namespace
}  // namespace loopmon
