// The simulated devices, asked directly: what each kind of device answers,
// which frames it ignores, and how its loops move.

#include <gtest/gtest.h>

#include <set>

#include "sim/device_model.h"
#include "sim/scenario.h"

using namespace loopmon;
using namespace loopmon::sim;

namespace {

Bytes withChecksum(Bytes frame, CrcTable table = CrcTable::Carried) {
  frame.push_back(FrameChecksum(frame, table));
  return frame;
}

std::optional<Bytes> ask(SimulatedBus& bus, uint8_t address, uint8_t command, uint8_t d1,
                         uint8_t d2) {
  return bus.respond(withChecksum({address, 6, 0, command, d1, d2}, bus.crcTable()));
}

Bytes answer(uint8_t address, uint8_t code, uint8_t d1, uint8_t d2) {
  return withChecksum({address, 5, code, d1, d2});
}

SimulatedBus busOf(const std::string& scenario) {
  return SimulatedBus(parseScenario(scenario));
}

}  // namespace

TEST(SimulatedDevices, PresenceIdentificationAndRefusals) {
  SimulatedBus bus = busOf(R"(
[bus]
drift = no
[device 5]
type = 1
version = 105
[device 6]
type = 2
refuse-identify = yes
[device 7]
false-code = 7
[device 8]
silent = yes
[device 9]
ignore = 13
)");
  EXPECT_EQ(ask(bus, 5, 1, 0, 0), answer(5, 2, 0, 0)) << "search presence";
  EXPECT_EQ(ask(bus, 5, 1, 0, 1), answer(5, 2, 0, 0)) << "worker poll";
  EXPECT_EQ(ask(bus, 5, 13, 0, 0), answer(5, 0, 1, 105)) << "type in byte 3, version in byte 4";
  EXPECT_EQ(ask(bus, 5, 0x77, 0, 0), answer(5, 10, 0x77, 0)) << "unknown command";
  EXPECT_EQ(ask(bus, 5, 0x39, 1, 1), answer(5, 10, 0x39, 0)) << "line devices only on type 9";
  EXPECT_EQ(ask(bus, 5, 0x1B, 21, 0), answer(5, 10, 0x1B, 0)) << "type 1 has 20 loops";

  EXPECT_EQ(ask(bus, 6, 1, 0, 0), answer(6, 2, 0, 0));
  EXPECT_EQ(ask(bus, 6, 13, 0, 0), answer(6, 10, 13, 0));

  EXPECT_EQ(ask(bus, 7, 1, 0, 1), answer(7, 7, 0, 0)) << "a false device";
  EXPECT_EQ(ask(bus, 7, 13, 0, 0), answer(7, 7, 0, 0));

  EXPECT_EQ(ask(bus, 8, 1, 0, 0), std::nullopt);
  EXPECT_EQ(ask(bus, 9, 1, 0, 0), answer(9, 2, 0, 0));
  EXPECT_EQ(ask(bus, 9, 13, 0, 0), std::nullopt) << "answers presence but not identification";
  EXPECT_EQ(ask(bus, 10, 1, 0, 0), std::nullopt) << "nobody at 10";
}

TEST(SimulatedDevices, FramesTheyDoNotTake) {
  SimulatedBus bus = busOf("[device 5]\n[device 63]\ntype = 11\n");
  EXPECT_EQ(ask(bus, 0, 1, 0, 0), std::nullopt) << "address 0 is never answered";
  Bytes bad = withChecksum({5, 6, 0, 1, 0, 0});
  bad.back() ^= 1;
  EXPECT_EQ(bus.respond(bad), std::nullopt) << "bad checksum";
  EXPECT_EQ(bus.respond(withChecksum({5, 7, 0, 1, 0, 0})), std::nullopt) << "length byte wrong";
  EXPECT_EQ(bus.respond(withChecksum({5, 4, 0, 1})), std::nullopt) << "too short";
  EXPECT_EQ(bus.respond({}), std::nullopt);
  EXPECT_EQ(bus.respond(withChecksum({5, 5, 0, 1, 0})), answer(5, 2, 0, 0)) << "one data byte";

  // The presence request to 63 runs through entry 0xF9: a bus on the other
  // table hears a bad checksum.
  const Bytes carried = withChecksum({63, 6, 0, 1, 0, 0}, CrcTable::Carried);
  EXPECT_EQ(carried.back(), 0xC8);
  EXPECT_TRUE(bus.respond(carried));
  SimulatedBus published = busOf("[bus]\ncrc = published\n[device 63]\ntype = 11\n");
  EXPECT_EQ(published.respond(carried), std::nullopt);
  const auto reply = published.respond(withChecksum({63, 6, 0, 1, 0, 0}, CrcTable::Published));
  ASSERT_TRUE(reply);
  EXPECT_EQ(FrameChecksum(reply->data(), 5, CrcTable::Published), reply->back());
}

TEST(SimulatedDevices, EventAnswersStayUntilAcknowledged) {
  SimulatedBus bus = busOf(R"(
[bus]
drift = no
[device 20]
type = 4
event = 4 3 2
event = 12 0 0
)");
  EXPECT_EQ(ask(bus, 20, 1, 0, 1), answer(20, 4, 3, 2));
  EXPECT_EQ(ask(bus, 20, 1, 0, 1), answer(20, 4, 3, 2)) << "not acknowledged yet";
  EXPECT_EQ(ask(bus, 20, 3, 0, 0), std::nullopt) << "command 3 with other data";
  EXPECT_EQ(ask(bus, 20, 1, 0, 1), answer(20, 4, 3, 2));
  EXPECT_EQ(ask(bus, 20, 3, 0, 1), std::nullopt) << "acknowledgements get no answer";
  EXPECT_EQ(ask(bus, 20, 1, 0, 0), answer(20, 12, 0, 0));
  ask(bus, 20, 3, 0, 1);
  EXPECT_EQ(ask(bus, 20, 1, 0, 1), answer(20, 2, 0, 0));
}

TEST(SimulatedDevices, LoopReadingsAndStates) {
  SimulatedBus bus = busOf(R"(
[bus]
drift = no
[device 5]
type = 1
loop.2 = 0
loop.3 = 255
loop.4 = 45
loop.5 = off
loop.6 = disarmed
loop.7 = 45, disarmed
loop.8 = state 37
)");
  EXPECT_EQ(ask(bus, 5, 0x1B, 1, 0), answer(5, 0x1C, 1, restingAdc(0, 1)));
  EXPECT_EQ(ask(bus, 5, 0x19, 1, 0), answer(5, 0x1A, 1, LoopState::Armed));
  EXPECT_EQ(ask(bus, 5, 0x1B, 2, 0), answer(5, 0x1C, 2, 0));
  EXPECT_EQ(ask(bus, 5, 0x19, 2, 0), answer(5, 0x1A, 2, LoopState::Attention)) << "open";
  EXPECT_EQ(ask(bus, 5, 0x19, 3, 0), answer(5, 0x1A, 3, LoopState::Attention)) << "short";
  EXPECT_EQ(ask(bus, 5, 0x1B, 4, 0), answer(5, 0x1C, 4, 45));
  EXPECT_EQ(ask(bus, 5, 0x19, 4, 0), answer(5, 0x1A, 4, LoopState::Alarm));
  EXPECT_EQ(ask(bus, 5, 0x19, 5, 0), answer(5, 0x1A, 5, LoopState::Disabled));
  EXPECT_EQ(ask(bus, 5, 0x19, 6, 0), answer(5, 0x1A, 6, LoopState::Disarmed));
  EXPECT_EQ(ask(bus, 5, 0x19, 7, 0), answer(5, 0x1A, 7, LoopState::Disarmed))
      << "no alarm while disarmed";
  EXPECT_EQ(ask(bus, 5, 0x19, 8, 0), answer(5, 0x1A, 8, 37));
  EXPECT_EQ(ask(bus, 5, 0x19, 0, 0), answer(5, 10, 0x19, 0)) << "loops count from 1";
}

TEST(SimulatedDevices, LineDevicesOfType9) {
  SimulatedBus bus = busOf(R"(
[bus]
drift = no
[device 127]
type = 9
line.1 = 5
line.2 = 1
line.3 = 9
line.4 = not-ready
line.5 = unsupported
line.6 = condition 3
)");
  EXPECT_EQ(ask(bus, 127, 0x39, 1, 1), answer(127, 0x3A, 1, 5)) << "class 1: the kind";
  EXPECT_EQ(ask(bus, 127, 0x39, 1, 4), answer(127, 0x3A, 4, restingAdc(5, 1))) << "reading";
  EXPECT_EQ(ask(bus, 127, 0x1B, 1, 0), answer(127, 0x1C, 1, restingAdc(5, 1)));
  EXPECT_EQ(ask(bus, 127, 0x39, 2, 1), answer(127, 0x3A, 1, 1));
  EXPECT_EQ(ask(bus, 127, 0x39, 2, 4), answer(127, 0x3A, 0, 2)) << "kind 1 has no reading";
  EXPECT_EQ(ask(bus, 127, 0x39, 3, 1), answer(127, 0x3A, 1, 9)) << "a kind nobody knows";
  EXPECT_EQ(ask(bus, 127, 0x39, 4, 1), answer(127, 0x3A, 0, 4));
  EXPECT_EQ(ask(bus, 127, 0x39, 5, 4), answer(127, 0x3A, 0, 2)) << "refused reading";
  EXPECT_EQ(ask(bus, 127, 0x39, 6, 1), answer(127, 0x3A, 0, 3));
  EXPECT_EQ(ask(bus, 127, 0x39, 100, 1), answer(127, 0x3A, 0, 1)) << "nothing connected: off";
  EXPECT_EQ(ask(bus, 127, 0x1B, 100, 0), answer(127, 0x1C, 100, 0));
  EXPECT_EQ(ask(bus, 127, 0x39, 1, 7), answer(127, 0x3A, 0, 2)) << "unknown query";
}

TEST(SimulatedDevices, KeyedFormRoundTripsThroughTheEngine) {
  SimulatedBus bus = busOf("[bus]\ndrift = no\n[device 5]\ntype = 2\nversion = 160\nkey = 0x5A\n");
  std::array<uint16_t, 128> keyWords;
  keyWords.fill(NoKey);
  keyWords[5] = 0x5A;
  for (uint8_t modifier : {1, 77, 254}) {
    std::optional<uint8_t> key;
    const Bytes frame =
        buildFrame({5 + 128, 6, modifier, 13, 0, 0}, keyWords.data(), CrcTable::Carried, key);
    ASSERT_TRUE(key);
    auto reply = bus.respond(frame);
    ASSERT_TRUE(reply);
    EXPECT_EQ((*reply)[0], 133);
    EXPECT_EQ(FrameChecksum(reply->data(), 5), reply->back()) << "checksum over the bytes as sent";
    unscrambleAnswer(*reply, key);
    EXPECT_EQ(Bytes(reply->begin(), reply->end() - 1), (Bytes{5, 5, 0, 2, 160}));
  }
  EXPECT_EQ(ask(bus, 5, 13, 0, 0), answer(5, 0, 2, 160)) << "plain requests stay plain";
  SimulatedBus keyless = busOf("[device 5]\n");
  std::optional<uint8_t> key;
  EXPECT_EQ(
      keyless.respond(buildFrame({133, 6, 9, 1, 0, 0}, keyWords.data(), CrcTable::Carried, key)),
      std::nullopt);
}

TEST(SimulatedDevices, DroppedShareOfRequests) {
  SimulatedBus bus = busOf("[device 5]\ndrop = 30\n");
  int answered = 0;
  for (int i = 0; i < 2000; ++i) answered += ask(bus, 5, 13, 0, 0).has_value();
  EXPECT_GT(answered, 1250);
  EXPECT_LT(answered, 1550);
}

TEST(SimulatedDevices, LoopsMoveAndComeBack) {
  const std::string scenario =
      "[bus]\nseed = 7\n[device 5]\ntype = 1\nloop-events = yes\nloop.2 = 100\n";
  SimulatedBus bus = busOf(scenario);
  SimulatedBus twin = busOf(scenario);
  std::set<uint8_t> readings;
  std::set<uint8_t> states;
  for (int i = 0; i < 3000; ++i) {
    const auto reading = ask(bus, 5, 0x1B, 1, 0);
    ASSERT_EQ(reading, ask(twin, 5, 0x1B, 1, 0)) << "the same seed plays the same";
    readings.insert((*reading)[4]);
    states.insert((*ask(bus, 5, 0x19, 1, 0))[4]);
    ask(twin, 5, 0x19, 1, 0);
    ASSERT_EQ((*ask(bus, 5, 0x1B, 2, 0))[4], 100) << "a pinned loop stays";
  }
  EXPECT_GT(readings.size(), 5u) << "readings drift";
  EXPECT_TRUE(readings.contains(0)) << "open";
  EXPECT_TRUE(readings.contains(255)) << "short";
  EXPECT_TRUE(states.contains(LoopState::Alarm));
  EXPECT_TRUE(states.contains(LoopState::Armed));
  const auto event = ask(bus, 5, 1, 0, 1);
  EXPECT_EQ((*event)[2], 4) << "state changes were reported as events";

  SimulatedBus other = busOf("[bus]\nseed = 8\n[device 5]\ntype = 1\n");
  bool differs = false;
  for (int i = 0; i < 50 && !differs; ++i)
    differs = ask(other, 5, 0x1B, 1, 0) != ask(twin, 5, 0x1B, 1, 0);
  EXPECT_TRUE(differs) << "another seed plays otherwise";
}

TEST(Scenarios, DemoBus) {
  const Scenario demo = demoScenario();
  std::map<uint8_t, DeviceSpec> byAddress;
  for (const auto& device : demo.devices) byAddress[device.address] = device;
  EXPECT_EQ(demo.crcTable, CrcTable::Carried);
  EXPECT_EQ(byAddress[5].type, 1);
  EXPECT_EQ(byAddress[5].version, 105);
  EXPECT_EQ(byAddress[5].loopCount, 20);
  EXPECT_EQ(byAddress[63].type, 11);
  EXPECT_EQ(byAddress[127].type, 9);
  EXPECT_EQ(byAddress[127].loopCount, 127);
  std::set<int> types;
  for (const auto& device : demo.devices) types.insert(device.type);
  EXPECT_TRUE(types.contains(2));
  EXPECT_TRUE(types.contains(4));
  bool unknownKind = false;
  for (const auto& [number, line] : byAddress[127].lineDevices) {
    unknownKind |= line.answerClass == 1 && (line.value == 0 || line.value >= 8);
  }
  EXPECT_TRUE(unknownKind);
  EXPECT_TRUE(byAddress[20].latencyMicros.has_value()) << "bus latency handed down";
}

TEST(Scenarios, MistakesNameTheirLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"[device 0]\n", "line 1"},
      {"[device 5]\n[device 5]\n", "line 2"},
      {"[device 5]\n\n; comment\ncolour = red\n", "line 4"},
      {"[bus]\ncrc = other\n", "line 2"},
      {"[device 5]\nevent = 4 3\n", "line 2"},
      {"[device 5]\nloop.0 = 1\n", "line 2"},
      {"[device 5]\nsilent = maybe\n", "line 2"},
      {"type = 1\n", "line 1"},
      {"[device 5]\njust words\n", "line 2"},
  };
  for (const auto& [text, where] : cases) {
    try {
      parseScenario(text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const ScenarioError& error) {
      EXPECT_NE(std::string(error.what()).find(where), std::string::npos) << error.what();
    }
  }
  EXPECT_THROW(loadScenarioFile("/nonexistent/scenario.ini"), ScenarioError);
  const Scenario hex = parseScenario("[DEVICE 0x10] ; sixteen\nTYPE = 0x0B\nignore = 1 0x0D\n");
  EXPECT_EQ(hex.devices.at(0).address, 16);
  EXPECT_EQ(hex.devices.at(0).type, 11);
  EXPECT_EQ(hex.devices.at(0).ignoredCommands, (std::set<uint8_t>{1, 13}));
}
