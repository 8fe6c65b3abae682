// The window models without a toolkit, on a fake line through the session:
// marks and drags, the buttons through a reading, rows per device type,
// answers that come back late, the search's start/stop/choose sequence, and
// the calibration and password checks.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "common/number_text.h"
#include "desktop/calibration_model.h"
#include "desktop/main_window_model.h"
#include "desktop/password_dialog_model.h"
#include "desktop/search_dialog_model.h"
#include "fake_platform.h"
#include "held_bus.h"
#include "loops/loop_layout.h"
#include "platform/store/profile_file.h"
#include "scoped_temp_dir.h"
#include "session/bus_runner.h"
#include "session/session.h"
#include "window_fakes.h"

namespace loopmon {
namespace {

using testing::FakeMainWindow;
using testing::FakeSearchDialog;
using testing::Lines;

Bytes frame(Bytes bytes) {
  bytes.push_back(FrameChecksum(bytes));
  return bytes;
}

// A type-1 device at 5 whose loop n reads 100 + n; every other address is silent.
std::optional<Bytes> deviceAtFive(const Bytes& request) {
  if (request[0] != 5) return std::nullopt;
  switch (request[3]) {
    case BusCommand::Presence:
      return frame({5, 5, 2, 0, 0});
    case BusCommand::Identify:
      return frame({5, 5, 0, 1, 105});
    default:
      return frame({5, 5, 0x1C, request[4], static_cast<uint8_t>(100 + request[4])});
  }
}

class MainWindowModelTest : public ::testing::Test {
 protected:
  MainWindowModelTest() { fake.line->setResponder(deviceAtFive); }

  // The search dialog gives `address`, recorded in the session as `type`.
  void choose(uint8_t address, uint16_t type) {
    session.SetDeviceType(address, type);
    session.SetDeviceVersion(address, 100);
    view.chosen = address;
    model.searchClicked();
  }
  // Fires the timer until the model leaves it off or starts a wait.
  void runPass() {
    for (int ticks = 0; ticks < 200 && view.timerMs == TickIntervalMs; ++ticks) model.timerFired();
  }
  std::string row(int r) const {
    return model.cell(0, r) + "|" + model.cell(1, r) + "|" + model.cell(2, r);
  }

  testing::FakePlatform fake;
  TRSSession session{fake.platform()};
  InlineBus bus{session};
  CoefficientsStore store{"/nonexistent-folder/ohmgauge.kft", ','};
  FakeMainWindow view;
  MainWindowModel model{view, bus, store, ','};
};

TEST_F(MainWindowModelTest, RowsAndMarksPerDeviceTypeAreTheLayoutLoopctlUses) {
  const struct {
    uint16_t type;
    int rows;
    bool scrollBar;
    int marked;
  } cases[] = {{1, 21, false, 0}, {2, 21, false, 0},       {11, 21, false, 0},
               {4, 5, false, 0},  {9, 128, true, 126},     {0, 1, false, 0},
               {3, 1, false, 0},  {NoDevice, 1, false, 0}, {255, 1, false, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    choose(7, c.type);
    EXPECT_EQ(model.rowCount(), c.rows);
    EXPECT_EQ(model.grid().scrollBar(), c.scrollBar);
    int marked = 0;
    for (int row = 0; row < model.rowCount(); ++row) marked += model.marked(row) ? 1 : 0;
    EXPECT_EQ(marked, c.marked);
    EXPECT_FALSE(model.marked(1));
    const LoopLayout layout = LoopLayoutFor(c.type);
    EXPECT_EQ(layout.rows, c.rows) << "loopctl lays its table out by the same rule";
    EXPECT_EQ(model.device().DevType, c.type & 0xFF);
    EXPECT_EQ(view.label, session.DescribeDevice(7));
    EXPECT_EQ(view.controls, (std::array<bool, 3>{true, true, true}));
  }
  // A cancelled search leaves the heading row and the read controls off.
  view.chosen = 0;
  model.searchClicked();
  EXPECT_EQ(model.rowCount(), 1);
  EXPECT_EQ(model.device().DevAddr, 0);
  EXPECT_EQ(view.controls, (std::array<bool, 3>{false, false, false}));
}

TEST_F(MainWindowModelTest, PressDragAndReleasePaintTheMarks) {
  struct Step {
    char kind;  // p(ress), d(rag), r(elease)
    int column;
    int row;
    bool left;
  };
  const struct {
    const char* name;
    std::vector<Step> steps;
    std::set<int> marked;
  } cases[] = {
      {"a click flips, a second restores",
       {{'p', 0, 4, true}, {'r', 0, 4, true}, {'p', 0, 4, true}, {'r', 0, 4, true}},
       {}},
      {"row 0 and the value columns flip nothing",
       {{'p', 0, 0, true}, {'p', 1, 3, true}, {'p', 0, 3, false}},
       {}},
      {"press 3, release 8 off column 0",
       {{'p', 0, 3, true}, {'d', 0, 4, true}, {'d', 2, 6, true}, {'r', 2, 8, true}},
       {3, 4, 5, 6, 7, 8}},
      {"release over no cell fills up to row 1",
       {{'p', 0, 5, true}, {'r', -1, -1, true}},
       {1, 2, 3, 4, 5}},
      {"a drag with another button held paints nothing",
       {{'p', 0, 2, true}, {'d', 0, 3, false}},
       {2}},
      {"a release without a marking press paints nothing",
       {{'p', 1, 2, true}, {'r', 0, 9, true}},
       {}},
      {"a press ends a marking whose release never came",
       {{'p', 0, 2, true}, {'d', 0, 3, true}, {'p', 1, 5, true}, {'r', 0, 7, true}},
       {2, 3}},
  };
  choose(5, 1);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (int row = 1; row < model.rowCount(); ++row) {
      if (model.marked(row)) model.tablePressed(0, row, true), model.tableReleased(row, true);
    }
    view.cellsShown.clear();
    for (const Step& step : c.steps) {
      if (step.kind == 'p') model.tablePressed(step.column, step.row, step.left);
      if (step.kind == 'd') model.tableDragged(step.column, step.row, step.left);
      if (step.kind == 'r') model.tableReleased(step.row, step.left);
    }
    std::set<int> marked;
    for (int row = 1; row < model.rowCount(); ++row) {
      if (model.marked(row)) marked.insert(row);
    }
    EXPECT_EQ(marked, c.marked);
    for (int row : marked) {
      EXPECT_TRUE(view.cellsShown.count({0, row})) << "row " << row << " repainted";
    }
  }
}

TEST_F(MainWindowModelTest, ButtonsThroughSingleAndPeriodicReadings) {
  choose(5, 1);
  model.tablePressed(0, 2, true);
  model.tableReleased(2, true);
  model.readClicked();
  EXPECT_EQ(view.timerMs, TickIntervalMs);
  runPass();
  EXPECT_EQ(view.timerMs, -1);
  EXPECT_EQ(view.caption, IdleCaption);
  EXPECT_EQ(row(1), "1|101|3,0");
  EXPECT_EQ(row(2), "2||") << "a marked loop is not read";
  EXPECT_EQ(row(4), "4|104|2,9");

  // The state view empties the values at once and widens its columns.
  model.stateViewClicked();
  EXPECT_EQ(row(1), "1||");
  EXPECT_FALSE(view.adcView);
  EXPECT_EQ(model.grid().columnWidth(1), 144);
  model.adcViewClicked();
  EXPECT_EQ(model.grid().columnWidth(1), 120);

  // Periodic: the read button is off, a pass ends in the period's wait, and a
  // release during the wait means no further tick.
  EXPECT_EQ(model.periodChanged(45), MaxPeriodSeconds);
  EXPECT_EQ(view.period, MaxPeriodSeconds);
  EXPECT_EQ(model.periodChanged(0), MinPeriodSeconds);
  view.period = 0;
  model.periodFieldLeft();
  EXPECT_EQ(view.period, MinPeriodSeconds) << "an emptied field shows the period again";
  for (char32_t key : {U'a', U'-', U' '}) EXPECT_FALSE(MainWindowModel::periodKeyAccepted(key));
  for (char32_t key : {U'0', U'9', char32_t{8}, char32_t{13}}) {
    EXPECT_TRUE(MainWindowModel::periodKeyAccepted(key));
  }
  model.periodicClicked(true);
  EXPECT_EQ(view.controls, (std::array<bool, 3>{false, true, true}));
  model.readClicked();
  runPass();
  EXPECT_EQ(view.timerMs, 1000);
  EXPECT_TRUE(model.waitingBetweenPasses());
  model.periodicClicked(false);
  EXPECT_EQ(view.timerMs, -1);
  EXPECT_FALSE(model.reading());
  EXPECT_EQ(view.controls, (std::array<bool, 3>{true, true, true}));
  const size_t calls = fake.line->callTexts().size();
  model.timerFired();
  EXPECT_EQ(fake.line->callTexts().size(), calls);

  // A search stops a running reading: it must not go on behind the dialog.
  model.periodicClicked(true);
  view.chosen = 0;
  model.searchClicked();
  EXPECT_FALSE(model.reading());
  EXPECT_FALSE(view.periodicDown);
}

// Chosen in the search or from another window (a survey's change), another
// device starts from an empty table: nothing of the last one's readings stays,
// not in the resistance column, not past the rows a reading's start blanks.
TEST_F(MainWindowModelTest, AnotherDeviceStartsFromAnEmptyTableHoweverItIsChosen) {
  session.SetDeviceType(7, 1);
  session.SetDeviceVersion(7, 100);
  const std::pair<const char*, std::function<void()>> ways[] = {
      {"the search", [&] { choose(7, 1); }},
      {"another window", [&] { model.loopChosen(7, 20); }},
  };
  for (const auto& [way, chooseSeven] : ways) {
    SCOPED_TRACE(way);
    choose(5, 1);
    model.readClicked();
    runPass();
    ASSERT_EQ(row(20), "20|120|2,4");
    chooseSeven();
    EXPECT_EQ(model.device().DevAddr, 7);
    for (int r = 1; r < model.rowCount(); ++r) EXPECT_EQ(row(r), std::to_string(r) + "||");
  }
  EXPECT_EQ(model.chosenRow(), 20);
}

// The simulator object cannot be created: the error reaches the caller (the
// window's error handler) and the reading ends, periodic button released.
TEST(MainWindowModelErrors, AnExchangeThatThrowsEndsTheReading) {
  struct NoSimulator : SimulatorLink {
    std::unique_ptr<SimulatorObject> create(SimulatorSide) override {
      throw SimulatorUnavailable("no simulator");
    }
  };
  testing::FakePlatform fake;
  fake.markers->holdElsewhere("SIMUL");
  fake.simulatorLink = std::make_shared<NoSimulator>();
  TRSSession session(fake.platform());
  session.SetDeviceType(5, 1);
  InlineBus bus(session);
  CoefficientsStore store("/nonexistent-folder/ohmgauge.kft", ',');
  FakeMainWindow view;
  MainWindowModel model(view, bus, store, ',');
  view.chosen = 5;
  model.searchClicked();
  model.periodicClicked(true);
  EXPECT_THROW(model.timerFired(), SimulatorUnavailable);
  EXPECT_FALSE(model.reading());
  EXPECT_FALSE(view.periodicDown);
  EXPECT_EQ(view.timerMs, -1);
  EXPECT_EQ(view.controls, (std::array<bool, 3>{true, true, true}));
}

TEST(SearchDialogModel, StartStopChooseAndTheRememberedPort) {
  testing::FakePlatform fake;
  fake.line->setResponder(deviceAtFive);
  TRSSession session(fake.platform());
  InlineBus bus(session);
  testing::ScopedTempDir dir;
  const std::string ini = dir.path() + "/pcom.ini";
  FakeSearchDialog view;
  SearchDialogModel dialog(view, &bus, ini);

  // Enter in the empty list: nothing happens, a running scan goes on.
  dialog.aboutToShow();
  EXPECT_EQ(view.port, 0) << "no file reads as COM1";
  dialog.searchClicked();
  EXPECT_EQ(view.caption, SearchButtonStop);
  EXPECT_TRUE(view.timer);
  EXPECT_TRUE(view.lines.empty());
  dialog.chooseDevice();
  EXPECT_TRUE(view.timer) << "the scan timer keeps running";
  EXPECT_EQ(view.closes, 0);

  // Stop after address 6: the scan's own state decides, not the caption.
  while (dialog.procedure().ScanAddress <= 6) dialog.scanTimerFired();
  view.caption = "whatever the button reads";
  dialog.searchClicked();
  EXPECT_FALSE(dialog.procedure().Scanning());
  EXPECT_FALSE(view.timer);
  EXPECT_EQ(view.caption, SearchButtonSearch);
  EXPECT_EQ(view.titleText, "Поиск приборов");
  EXPECT_EQ(view.lines, Lines{session.DescribeDevice(5)});
  // The list's device is the one the device table holds, not its line read back.
  ASSERT_EQ(dialog.devices().size(), 1u);
  EXPECT_EQ(dialog.devices()[0].address, 5);
  EXPECT_EQ(dialog.devices()[0].type, session.GetDeviceType(5));
  EXPECT_EQ(dialog.devices()[0].version, session.DeviceVersion(5));
  dialog.scanTimerFired();
  EXPECT_EQ(dialog.procedure().ScanAddress, 7) << "a stale tick probes nothing";

  // Choosing with no line selected takes the first; the port is remembered.
  view.port = 3;
  dialog.chooseDevice();
  EXPECT_EQ(view.closes, 1);
  dialog.closed();
  EXPECT_EQ(dialog.SelectedAddress(), 5);
  EXPECT_EQ(ProfileFile(ini).readInt("Port", "Num", -1), 3);

  // The next showing lists the device that still answers, and a port index
  // out of range selects none; closed without one, COM1 is remembered.
  ASSERT_TRUE(ProfileFile(ini).writeString("Port", "Num", "9"));
  dialog.aboutToShow();
  EXPECT_EQ(view.port, -1);
  EXPECT_EQ(dialog.SelectedAddress(), 0);
  EXPECT_EQ(view.lines, Lines{session.DescribeDevice(5)});
  dialog.searchClicked();
  EXPECT_EQ(view.errors, Lines{"Неопределен последовательный порт!"});
  dialog.closed();
  EXPECT_EQ(ProfileFile(ini).readInt("Port", "Num", -1), 0);
}

// The quick search: off until chosen, and then remembered under a key of its
// own; it lists what the full search lists.
TEST(SearchDialogModel, TheQuickSearchIsChosenAndRemembered) {
  testing::FakePlatform fake;
  fake.line->setResponder(deviceAtFive);
  TRSSession session(fake.platform());
  InlineBus bus(session);
  testing::ScopedTempDir dir;
  const std::string ini = dir.file("pcom.ini");
  FakeSearchDialog view;
  view.quick = true;
  SearchDialogModel dialog(view, &bus, ini);
  dialog.aboutToShow();
  EXPECT_FALSE(view.quick);
  dialog.closed();
  EXPECT_EQ(ProfileFile(ini).readString("Search", "Quick", "none"), "none");

  dialog.aboutToShow();
  dialog.quickToggled(true);
  dialog.searchClicked();
  while (view.timer) dialog.scanTimerFired();
  EXPECT_EQ(view.lines, Lines{session.DescribeDevice(5)});
  EXPECT_EQ(view.caption, SearchButtonSearch);
  dialog.closed();
  EXPECT_EQ(ProfileFile(ini).readInt("Search", "Quick", -1), 1);
  dialog.aboutToShow();
  EXPECT_TRUE(view.quick);
  dialog.quickToggled(false);
  dialog.closed();
  EXPECT_EQ(ProfileFile(ini).readInt("Search", "Quick", -1), 0);
}

// A further port is remembered by its name beside the index, so that a
// converter unplugged since is not replaced by whatever now stands there.
TEST(SearchDialogModel, AFurtherPortIsRememberedByItsName) {
  testing::ScopedTempDir dir;
  const std::string ini = dir.file("pcom.ini");
  std::vector<PortEntry> present;
  FakeSearchDialog view;
  SearchDialogModel dialog(view, nullptr, ini, [&] { return searchPortChoices(present); });
  const PortEntry ftdi{
      .comName = "COM5", .devicePath = "/dev/ttyUSB0", .description = "FT232R USB UART"};
  const PortEntry cp210x{.comName = "COM7",
                         .devicePath = "/dev/ttyUSB1",
                         .description = "CP2102 USB to UART Bridge Controller"};

  const struct {
    const char* what;
    std::string num, name;
    std::vector<PortEntry> present;
    int shown;
  } cases[] = {
      {"the four ports keep their index", "2", "COM7", {ftdi, cp210x}, 2},
      {"a further port where it now stands", "4", "COM7", {cp210x}, 4},
      {"the same port behind a new neighbour", "4", "COM7", {ftdi, cp210x}, 5},
      {"an unplugged port is no port", "5", "COM7", {ftdi}, -1},
      {"an index without a name is no port", "4", "", {ftdi}, -1},
      {"a name among the four is not looked for", "4", "COM2", {ftdi}, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(ini);
    ASSERT_TRUE(ProfileFile(ini).writeStrings("Port", {{"Num", c.num}, {"Name", c.name}}));
    present = c.present;
    dialog.aboutToShow();
    EXPECT_EQ(view.port, c.shown);
  }

  // Chosen and closed: the index as ever, and the name of a further port.
  present = {ftdi, cp210x};
  dialog.aboutToShow();
  EXPECT_EQ(view.portItems.at(4), "COM5 — FT232R USB UART");
  view.port = 5;
  dialog.closed();
  EXPECT_EQ(ProfileFile(ini).readInt("Port", "Num", -1), 5);
  EXPECT_EQ(ProfileFile(ini).readString("Port", "Name", ""), "COM7");
  EXPECT_EQ(view.portText(), "COM7 — CP2102 USB to UART Bridge Controller");

  // A save that is refused is told as every other save's refusal is.
  std::filesystem::permissions(ini, std::filesystem::perms::owner_read);
  view.port = 1;
  try {
    dialog.closed();
    ADD_FAILURE() << "a refused save passed in silence";
  } catch (const FileWriteError& error) {
    EXPECT_EQ(std::string(error.what()), "Unable to write to " + ini);
  }
  EXPECT_EQ(ProfileFile(ini).readInt("Port", "Num", -1), 5);
}

TEST(CalibrationModel, ChecksFieldsAndTheSection) {
  testing::ScopedTempDir dir;
  CoefficientsStore store(dir.path() + "/ohmgauge.kft", ',');
  SelectedDevice device{5, 2, 105};
  CalibrationModel model([&] { return device; }, store, ',');

  EXPECT_EQ(model.enter({}),
            (Lines{"Введенный тип прибора неподдерживается", "Не введена версия прибора"}));
  EXPECT_EQ(model.fieldEdited("3."), std::optional<std::string>("3,"));
  EXPECT_EQ(model.fieldEdited("3.55"), std::nullopt);
  EXPECT_EQ(model.fieldEdited(""), std::nullopt);
  CalibrationFields shownBefore;
  shownBefore.typeEntry = 2;
  EXPECT_EQ(model.activated(shownBefore).typeEntry, -1) << "no section: no type shown";

  // The selected device's section, whatever the dialog shows; a failed
  // conversion stores nothing.
  CalibrationFields fields{
      .typeEntry = 3, .version = "1,60", .r1 = "1,04", .acp1 = "200", .r2 = "x", .acp2 = "100"};
  EXPECT_THROW(model.enter(fields), std::exception);
  EXPECT_FALSE(store.LoadPoints(2, 105));
  fields.r2 = "3,08";
  EXPECT_TRUE(model.enter(fields).empty());
  const Coefficients saved = store.Lookup(2, 105);
  EXPECT_DOUBLE_EQ(saved.a, 408);
  EXPECT_DOUBLE_EQ(saved.b, -1);
  const CalibrationFields shown = model.activated({});
  EXPECT_EQ(shown.typeEntry, 1);
  EXPECT_EQ(shown.version, "1,05");
  EXPECT_EQ(shown.r2, "3,08");

  // No device selected: the entry's code and the version without its comma.
  device = {};
  EXPECT_TRUE(model
                  .enter({.typeEntry = 3,
                          .version = "1,05",
                          .r1 = "1",
                          .acp1 = "200",
                          .r2 = "3",
                          .acp2 = "100"})
                  .empty());
  EXPECT_TRUE(store.LoadPoints(11, 105));
}

TEST(PasswordDialogModel, OnlyTheExactCodeOpensTheCalibrationOnceTheDialogHasClosed) {
  struct View : PasswordDialogView {
    void closeDialog() override { events += "close "; }
    void clearCode() override { events += "clear "; }
    void showCalibration() override { events += "calibration "; }
    std::string events;
  } view;
  PasswordDialogModel model(view);
  for (const char* code : {"", "48205917 ", "4820591", "48205917"}) {
    SCOPED_TRACE(code);
    view.events.clear();
    model.okClicked(code);
    model.closed();
    EXPECT_EQ(view.events,
              std::string(code) == AccessCode ? "close clear calibration " : "close clear ");
  }
  // Closed without Ok (Esc, the close box): silently.
  view.events.clear();
  model.closed();
  EXPECT_EQ(view.events, "clear ");
}

// Exchanges held on the bus and let through later: a device chosen in a
// search that another one followed is no choice, and a periodic reading
// released during a tick reads on to its last loop and ends as a single pass.
TEST(MainWindowModelLate, AnswersKeepToTheSearchAndThePassTheyBelongTo) {
  testing::FakePlatform fake;
  fake.line->setResponder(deviceAtFive);
  TRSSession session(fake.platform());
  session.SetDeviceType(5, 1);
  testing::HeldBus bus;
  CoefficientsStore store("/nonexistent-folder/ohmgauge.kft", ',');
  FakeMainWindow view;
  MainWindowModel model(view, bus, store, ',');

  view.chosen = 5;
  model.searchClicked();
  ASSERT_EQ(bus.held.size(), 1u);
  view.chosen = 0;
  view.duringSearch = [&] { bus.release(session); };
  model.searchClicked();
  EXPECT_EQ(model.device().DevAddr, 0);
  EXPECT_EQ(model.rowCount(), 1);
  EXPECT_EQ(view.controls, (std::array<bool, 3>{false, false, false}));

  view.duringSearch = nullptr;
  view.chosen = 5;
  model.searchClicked();
  bus.release(session);
  model.periodicClicked(true);
  model.timerFired();
  ASSERT_EQ(bus.held.size(), 1u) << "loop 1 on the bus";
  model.periodicClicked(false);
  EXPECT_EQ(view.controls, (std::array<bool, 3>{true, true, true}));
  for (int loop = 1; loop <= 20; ++loop) {
    ASSERT_EQ(bus.held.size(), 1u) << loop;
    bus.release(session);
    if (loop < 20) {
      EXPECT_EQ(view.timerMs, TickIntervalMs);
      model.timerFired();
    }
  }
  EXPECT_EQ(model.cell(1, 20), "120");
  EXPECT_EQ(view.caption, IdleCaption);
  EXPECT_FALSE(model.reading());
  EXPECT_EQ(view.timerMs, -1);
}

}  // namespace
}  // namespace loopmon
