// The search over a scripted bus: the whole order of the probes, what is
// recorded and listed, the check of known devices and the two message boxes.
// Stopping and a second scan run against loopsim (search_loopsim_test).

#include <gtest/gtest.h>

#include <map>
#include <utility>

#include "fake_platform.h"
#include "search_view_fake.h"
#include "session/rssess.h"

namespace loopmon {
namespace {

using testing::FakePlatform;
using testing::RecordingSearchView;
using testing::RunScan;

// Devices by address: what they answer to presence (code 2) and to
// identification (code 0, type, version), with the request log.
struct Bus {
  struct Device {
    uint8_t type = 1;
    uint8_t version = 100;
    bool identifies = true;
    uint8_t identifyCode = 0;
    uint8_t answersAs = 0;  // another address in the answer, 0: its own
  };
  std::map<uint8_t, Device> devices;
  std::vector<std::pair<uint8_t, uint8_t>> requests;  // address, command; repeats folded

  std::optional<Bytes> operator()(const Bytes& request) {
    const uint8_t address = request[0];
    const uint8_t command = request[3];
    if (requests.empty() || requests.back() != std::make_pair(address, command)) {
      requests.emplace_back(address, command);
    }
    const auto found = devices.find(address);
    if (found == devices.end()) return std::nullopt;
    const Device& device = found->second;
    const uint8_t from = device.answersAs != 0 ? device.answersAs : address;
    Bytes answer;
    if (command == 1) {
      answer = {from, 5, 2, 0, 0};
    } else if (command == 13 && device.identifies) {
      answer = {from, 5, device.identifyCode, device.type, device.version};
    } else {
      return std::nullopt;
    }
    answer.push_back(FrameChecksum(answer));
    return answer;
  }
};

struct SearchFixture : ::testing::Test {
  SearchFixture() {
    fake.line->setResponder(std::ref(bus));
    session = std::make_unique<TRSSession>(fake.platform());
  }
  std::string line(uint8_t address) { return session->DescribeDevice(address); }

  FakePlatform fake;
  Bus bus;
  std::unique_ptr<TRSSession> session;
  RecordingSearchView view;
};

TEST_F(SearchFixture, FullScanProbes127FirstThenOneTo126) {
  bus.devices[127] = {9, 255};
  bus.devices[3] = {1, 105};
  SearchProcedure search(view, session.get());
  RunScan(search, view);

  std::vector<std::pair<uint8_t, uint8_t>> expected{{127, 1}, {127, 13}};
  for (int address = 1; address <= 126; ++address) {
    expected.emplace_back(address, 1);
    if (address == 3) expected.emplace_back(address, 13);
  }
  EXPECT_EQ(bus.requests, expected);
  EXPECT_EQ(view.lines, (std::vector<std::string>{line(127), line(3)}));
  EXPECT_EQ(session->GetDeviceType(127), 9);
  EXPECT_EQ(session->DeviceVersions[127], 255);
  EXPECT_EQ(session->GetDeviceType(3), 1);
  EXPECT_EQ(session->GetDeviceType(4), NoDevice);
  EXPECT_EQ(session->ComPort, 2);
  EXPECT_TRUE(view.chooseEnabled);

  EXPECT_EQ(view.titles[0], "Поиск приборов по адресу 127");
  EXPECT_EQ(view.titles[1], "Поиск приборов по адресу 1");
  EXPECT_EQ(view.titles[126], "Поиск приборов по адресу 126");
  EXPECT_EQ(view.titleText, "Поиск приборов");
  EXPECT_EQ(view.caption, "Поиск");
  EXPECT_TRUE(view.portEnabled);
  EXPECT_EQ(view.progress, 0);
  EXPECT_FALSE(view.timerEnabled);
}

TEST_F(SearchFixture, OnlyAFullIdentificationOfTheProbedAddressIsListed) {
  bus.devices[10].identifies = false;
  bus.devices[11].identifyCode = 10;
  bus.devices[12].answersAs = 13;
  bus.devices[14] = {4, 120};
  SearchProcedure search(view, session.get());
  RunScan(search, view);

  EXPECT_EQ(view.lines, (std::vector<std::string>{line(14)}));
  for (uint8_t address : {10, 11, 12}) EXPECT_EQ(session->GetDeviceType(address), NoDevice);
  EXPECT_EQ(session->GetDeviceType(14), 4);
}

TEST_F(SearchFixture, CheckOfKnownDevicesListsOnlyThoseThatAnswer) {
  SearchProcedure search(view, session.get());
  search.CheckKnownDevices();
  EXPECT_TRUE(bus.requests.empty());
  EXPECT_EQ(view.focus, "search");

  bus.devices[8] = {1, 105};
  RunScan(search, view);
  ASSERT_TRUE(view.chooseEnabled);
  bus.devices.erase(8);
  bus.requests.clear();
  search.CheckKnownDevices();
  EXPECT_EQ(bus.requests, (std::vector<std::pair<uint8_t, uint8_t>>{{8, 1}}));
  EXPECT_TRUE(view.lines.empty());
  EXPECT_FALSE(view.chooseEnabled);
  EXPECT_EQ(view.focus, "search");
  EXPECT_EQ(session->GetDeviceType(8), 1);
}

TEST_F(SearchFixture, MissingSessionOrPortIsReportedAndNothingElseChanges) {
  SearchProcedure orphan(view);
  orphan.StartStopScan();
  EXPECT_EQ(view.errors,
            (std::vector<std::string>{
                "Неопределен RSSession. Обратитесь к разработчику.|Ошибка разработчика"}));
  EXPECT_EQ(view.changes, (std::vector<std::string>{"error"}));

  view.changes.clear();
  orphan.CheckKnownDevices();
  EXPECT_TRUE(view.lines.empty());
  EXPECT_FALSE(view.chooseEnabled);

  SearchProcedure search(view, session.get());
  view.port.clear();
  view.changes.clear();
  for (const char* caption : {"Поиск", "Стоп"}) {
    view.caption = caption;
    search.StartStopScan();
  }
  EXPECT_EQ(view.errors.back(), "Неопределен последовательный порт!|");
  EXPECT_EQ(view.changes, (std::vector<std::string>{"error", "error"}));
  EXPECT_TRUE(bus.requests.empty());
  EXPECT_EQ(session->ComPort, 1);
}

TEST_F(SearchFixture, PortComesFromTheFourthCharacterOfTheSelector) {
  view.port = "COM4";
  SearchProcedure search(view, session.get());
  search.StartStopScan();
  EXPECT_EQ(session->ComPort, 4);
  EXPECT_EQ(fake.line->callTexts().front(), "open COM4");
  view.port = "COM3";
  search.StartStopScan();
  EXPECT_EQ(session->ComPort, 3);
  EXPECT_EQ(view.caption, "Поиск");
}

}  // namespace
}  // namespace loopmon
