// The search on a fake line, for what loopsim does not play: an
// identification from another address, the end of a full scan, the check of
// every known address, and a search without a session.

#include <gtest/gtest.h>

#include <set>

#include "fake_platform.h"
#include "held_bus.h"
#include "platform/simulator/simulator_link.h"
#include "search/port_choices.h"
#include "search_view_fake.h"
#include "session/bus_runner.h"
#include "session/session.h"

namespace loopmon {
namespace {

using testing::Lines;
using testing::RecordingSearchView;
using Probe = std::pair<int, int>;  // address, command

TEST(SearchOnAFakeLine, ScanListsOnlyIdentificationsFromTheProbedAddressAndCheckAsksAllKnown) {
  testing::FakePlatform fake;
  // Every address but 64 answers presence; of the identifications, 12 comes
  // from the address 13 and 14 is a type 4.
  std::vector<Probe> probes;
  fake.line->setResponder([&](const Bytes& request) -> std::optional<Bytes> {
    const Probe probe{request[0], request[3]};
    if (probes.empty() || probes.back() != probe) probes.push_back(probe);
    Bytes answer{request[0], 5, 2, 0, 0};
    if (probe.second == 13) answer = {uint8_t(probe.first == 12 ? 13 : 14), 5, 0, 4, 120};
    if (probe.first == 64 || (probe.second == 13 && probe.first != 12 && probe.first != 14)) {
      return std::nullopt;
    }
    answer.push_back(FrameChecksum(answer));
    return answer;
  });
  TRSSession session(fake.platform());
  RecordingSearchView view;
  view.port = "COM4";
  InlineBus bus(session);
  SearchProcedure search(view, &bus);
  search.CheckKnownDevices();
  EXPECT_TRUE(probes.empty()) << "nothing is known yet";
  search.StartStopScan();
  while (view.timerEnabled) search.ScanStep();

  std::vector<Probe> expected{{127, 1}, {127, 13}};
  for (int address = 1; address <= 126; ++address) {
    expected.emplace_back(address, 1);
    if (address != 64) expected.emplace_back(address, 13);
  }
  EXPECT_EQ(probes, expected);
  EXPECT_EQ(view.lines, Lines{session.DescribeDevice(14)});
  EXPECT_EQ(session.GetDeviceType(12), NoDevice);
  EXPECT_EQ(session.GetDeviceType(14), 4);
  EXPECT_EQ(session.ComPort(), 4) << "the digit after COM";
  EXPECT_EQ(fake.line->callTexts().front(), "open COM4");
  view.expectIdle();
  EXPECT_EQ(view.note, "") << "the list tells what was found";

  // Every address but 50 known: each is asked once, 127 first; the silent
  // 64 stays recorded but is not listed.
  for (int address = 1; address <= 127; ++address) {
    const auto known = static_cast<uint8_t>(address);
    if (address != 50 && session.GetDeviceType(known) == NoDevice) session.SetDeviceType(known, 2);
  }
  probes.clear();
  expected = {{127, 1}};
  Lines listed{session.DescribeDevice(127)};
  for (int address = 1; address <= 126; ++address) {
    if (address == 50) continue;
    expected.emplace_back(address, 1);
    if (address != 64) listed.push_back(session.DescribeDevice(static_cast<uint8_t>(address)));
  }
  search.CheckKnownDevices();
  EXPECT_EQ(probes, expected);
  EXPECT_EQ(view.lines, listed);
  EXPECT_EQ(session.GetDeviceType(64), 2);

  // A scan that finds nothing says so until the list is filled again.
  fake.line->setResponder([](const Bytes&) { return std::nullopt; });
  search.StartStopScan();
  while (view.timerEnabled) search.ScanStep();
  EXPECT_EQ(view.note, NothingFound);
  search.CheckKnownDevices();
  EXPECT_EQ(view.note, "");
}

// The dialog's quick search takes several short tries to a timer tick; a
// device right after another is still found, and in the full search's order.
TEST(SearchOnAFakeLine, TheQuickSearchListsNeighboursInFewTicks) {
  testing::FakePlatform fake;
  const std::set<int> present{5, 6, 7, 100};
  fake.line->setResponder([&](const Bytes& request) -> std::optional<Bytes> {
    if (present.count(request[0]) == 0) return std::nullopt;
    Bytes answer{request[0], 5, 2, 0, 0};
    if (request[3] == 13) answer = {request[0], 5, 0, 2, 105};
    answer.push_back(FrameChecksum(answer));
    return answer;
  });
  TRSSession session(fake.platform());
  RecordingSearchView view;
  view.port = "COM1";
  InlineBus bus(session);
  SearchProcedure search(view, &bus);
  search.SetQuick(true);
  search.StartStopScan();
  int ticks = 0;
  for (; view.timerEnabled; ++ticks) search.ScanStep();
  Lines listed;
  for (const int address : present) listed.push_back(session.DescribeDevice(uint8_t(address)));
  EXPECT_EQ(view.lines, listed);
  EXPECT_LT(ticks, 127 / 2);
  view.expectIdle();
}

TEST(SearchOnAFakeLine, TheSelectorsFirstWordNamesThePortThatOpens) {
  testing::FakePlatform fake;
  TRSSession session(fake.platform());
  RecordingSearchView view;
  InlineBus bus(session);
  SearchProcedure search(view, &bus);
  const std::pair<std::string, std::string> cases[] = {
      {"COM7 — FT232R USB UART", "open COM7"},
      {"COM2 — /dev/ttyS1", "open COM2"},
      {"/dev/ttyUSB3", "open /dev/ttyUSB3"},
      {"COM4", "open /dev/ttyUSB3"},  // a device path is the host's choice
  };
  for (const auto& [selected, opened] : cases) {
    view.port = selected;
    search.StartStopScan();
    search.StartStopScan();
    std::string lastOpen;
    for (const std::string& call : fake.line->callTexts()) {
      if (call.starts_with("open ")) lastOpen = call;
    }
    EXPECT_EQ(lastOpen, opened) << selected;
  }
  EXPECT_EQ(session.ComPort(), 4);
}

TEST(PortSelector, TheFourPortsInTheirPlacesThenFurtherOnesWithTheDeviceBehind) {
  const std::vector<PortEntry> ports{
      {.comName = "COM1", .devicePath = "/dev/ttyUSB0", .description = "FT232R USB UART"},
      {.comName = "COM2", .devicePath = "/dev/ttyS1", .driver = "serial8250"},
      {.comName = "", .devicePath = "/dev/ttyACM0"},
      {.comName = "COM12",
       .devicePath = "/dev/ttyUSB1",
       .mapped = true,
       .description = "CP2102 USB to UART Bridge Controller"},
      {.comName = "COM5", .devicePath = "/tmp/rs485", .mapped = true},
  };
  std::vector<std::string> texts;
  for (const PortChoiceItem& item : searchPortChoices(ports)) texts.push_back(item.text);
  EXPECT_EQ(texts, (Lines{"COM1 — FT232R USB UART", "COM2 — serial8250", "COM3", "COM4",
                          "COM5 — /tmp/rs485", "COM12 — CP2102 USB to UART Bridge Controller"}));
}

// The dialog shown, closed before its check came back, and shown again: the
// simulator then gone, only the current check tells it.
TEST(SearchOnAFakeLine, OnlyTheCurrentCheckTellsItsFailure) {
  RecordingSearchView view;
  testing::HeldBus bus;
  SearchProcedure search(view, &bus);
  search.CheckKnownDevices();
  search.EndScan();
  search.CheckKnownDevices();
  ASSERT_EQ(bus.held.size(), 2u);
  const auto gone = std::make_exception_ptr(SimulatorUnavailable("the simulator is gone"));
  EXPECT_NO_THROW(bus.held[0].done(gone));
  EXPECT_THROW(bus.held[1].done(gone), SimulatorUnavailable);
}

// The missing port is checked in the dialog's own tests.
TEST(SearchOnAFakeLine, MissingSessionIsReportedAndNothingElseChanges) {
  RecordingSearchView view;
  SearchProcedure orphan(view);
  orphan.StartStopScan();
  EXPECT_EQ(view.errors,
            Lines{"Неопределен RSSession. Обратитесь к разработчику.|Ошибка разработчика"});
  EXPECT_EQ(view.caption, "Поиск");
  orphan.CheckKnownDevices();
  EXPECT_TRUE(view.lines.empty());
  EXPECT_FALSE(view.chooseEnabled);
}

}  // namespace
}  // namespace loopmon
