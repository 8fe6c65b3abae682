// The main window model's loop history, on a fake line answered by the
// simulated bus of a loopsim scenario whose loop 3 plays a known script: the
// moves counted, the moved marks, and when the history starts afresh.

#include <gtest/gtest.h>

#include "desktop/main_window_model.h"
#include "fake_platform.h"
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

// Moves over `readings` reads, the script's `from`-th first: between open,
// short and neither in the ADC view, into and out of alarm in the state view.
int movesOf(size_t from, size_t readings, bool adcView) {
  auto condition = [&](size_t i) {
    const int adc = Script[(from + i) % Script.size()];
    return adcView ? (adc == 0 ? 1 : adc == 255 ? 2 : 0) : adc == 45;
  };
  int moves = 0;
  for (size_t i = 1; i < readings; ++i) moves += condition(i) != condition(i - 1);
  return moves;
}

class WindowHistoryTest : public ::testing::Test {
 protected:
  WindowHistoryTest() {
    fake.line->setResponder([this](const Bytes& request) { return simulated.respond(request); });
  }

  void choose(uint8_t address) {
    session.SetDeviceType(address, 1);
    session.SetDeviceVersion(address, 160);
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
  // The rows whose number carries the moved corner.
  std::set<int> movedRows() const {
    std::set<int> rows;
    for (int row = 0; row < model.rowCount(); ++row) {
      if (model.grid().moved(row)) rows.insert(row);
    }
    return rows;
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
    c.adcView ? model.adcViewClicked() : model.stateViewClicked();
    periodicPasses(c.passes);

    const int moves = movesOf(played, static_cast<size_t>(c.passes), c.adcView);
    played += static_cast<size_t>(c.passes);
    EXPECT_EQ(summary(9, 3).moves, moves);
    EXPECT_EQ(model.history().Loops().size(), 20u) << "device 12's history is gone";
    for (int row = 1; row <= 20; ++row) {
      EXPECT_EQ(summary(9, row).readings, static_cast<size_t>(c.passes)) << row;
      EXPECT_EQ(model.moved(row), row == 3 && moves > 0) << row;
    }
    EXPECT_EQ(movedRows(), moves > 0 ? std::set<int>{3} : std::set<int>{});
  }
}

TEST_F(WindowHistoryTest, TheHistoryFollowsTheDeviceNotTheReading) {
  // Three single readings in the ADC view (96 45 0), two periodic passes in
  // the state view (96 255): one history, moves judged within each view.
  choose(9);
  for (int read = 0; read < 3; ++read) {
    model.readClicked();
    runPass();
  }
  model.stateViewClicked();
  periodicPasses(2);
  EXPECT_EQ(summary(9, 3).readings, 5u);
  EXPECT_EQ(summary(9, 3).moves, 1) << "into open; the state view's readings make no move";

  // The same device chosen again keeps its history and marks; a row's history
  // opens only for a loop with readings.
  choose(9);
  EXPECT_EQ(movedRows(), (std::set<int>{3}));
  for (int row : {-1, 0, 3, 4, 21}) model.historyClicked(row);
  EXPECT_EQ(view.histories, (std::vector<LoopKey>{{9, 3}, {9, 4}}));

  // Another device: nothing of device 9 is offered, and its reading starts
  // the history afresh.
  choose(12);
  EXPECT_FALSE(model.historyKey(3));
  model.readClicked();
  runPass();
  EXPECT_FALSE(model.history().Summary({9, 3}));
  choose(9);
  EXPECT_FALSE(model.moved(3));
  EXPECT_TRUE(movedRows().empty());
}

}  // namespace
}  // namespace loopmon
