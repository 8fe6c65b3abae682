// The search on a fake line, for what loopsim does not play: an
// identification from another address, the end of a full scan, and a
// search without a session.

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "search/port_choices.h"
#include "search_view_fake.h"
#include "session/rssess.h"

namespace loopmon {
namespace {

using testing::Lines;
using testing::RecordingSearchView;
using Probe = std::pair<int, int>;  // address, command

TEST(SearchOnAFakeLine, FullScanListsOnlyIdentificationsFromTheProbedAddress) {
  testing::FakePlatform fake;
  // 12 identifies itself under the address 13; 14 is a type 4.
  std::vector<Probe> probes;
  fake.line->setResponder([&](const Bytes& request) -> std::optional<Bytes> {
    const Probe probe{request[0], request[3]};
    if (probes.empty() || probes.back() != probe) probes.push_back(probe);
    if (probe.first != 12 && probe.first != 14) return std::nullopt;
    Bytes answer{request[0], 5, 2, 0, 0};
    if (probe.second == 13) answer = {uint8_t(probe.first == 12 ? 13 : 14), 5, 0, 4, 120};
    answer.push_back(FrameChecksum(answer));
    return answer;
  });
  TRSSession session(fake.platform());
  RecordingSearchView view;
  view.port = "COM4";
  SearchProcedure search(view, &session);
  search.StartStopScan();
  while (view.timerEnabled) search.ScanStep();

  std::vector<Probe> expected{{127, 1}};
  for (int address = 1; address <= 126; ++address) {
    expected.emplace_back(address, 1);
    if (address == 12 || address == 14) expected.emplace_back(address, 13);
  }
  EXPECT_EQ(probes, expected);
  EXPECT_EQ(view.lines, Lines{session.DescribeDevice(14)});
  EXPECT_EQ(session.GetDeviceType(12), NoDevice);
  EXPECT_EQ(session.GetDeviceType(14), 4);
  EXPECT_EQ(session.ComPort, 4) << "the digit after COM";
  EXPECT_EQ(fake.line->callTexts().front(), "open COM4");
  view.expectIdle();
}

TEST(SearchOnAFakeLine, TheSelectorsFirstWordNamesThePortThatOpens) {
  testing::FakePlatform fake;
  TRSSession session(fake.platform());
  RecordingSearchView view;
  SearchProcedure search(view, &session);
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
  EXPECT_EQ(session.ComPort, 4);
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
