// The simulated devices, asked directly: what each kind of device answers,
// and which frames it ignores.

#include <gtest/gtest.h>

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

struct Exchange {
  uint8_t address, command, d1, d2;
  std::optional<Bytes> answer;
};

}  // namespace

// Presence, identification, refusals and silence are played end to end by
// the search and loopctl tests; these are the device's own rules.
TEST(SimulatedDevices, WhatEachDeviceAnswers) {
  SimulatedBus bus = busOf(R"(
[bus]
drift = no
[device 5]
type = 1
loop.2 = 0
loop.3 = 255
loop.4 = 45
loop.5 = off
loop.7 = 45, disarmed
[device 7]
false-code = 7
[device 127]
type = 9
line.1 = 5
line.2 = 1
line.4 = not-ready
)");
  const Exchange exchanges[] = {
      {5, 0x77, 0, 0, answer(5, 10, 0x77, 0)},   // unknown command
      {5, 0x39, 1, 1, answer(5, 10, 0x39, 0)},   // line devices only on type 9
      {5, 0x1B, 21, 0, answer(5, 10, 0x1B, 0)},  // type 1 has 20 loops
      {5, 0x19, 0, 0, answer(5, 10, 0x19, 0)},   // loops count from 1
      {5, 0x1B, 1, 0, answer(5, 0x1C, 1, restingAdc(0, 1))},
      {5, 0x19, 1, 0, answer(5, 0x1A, 1, LoopState::Armed)},
      {5, 0x19, 2, 0, answer(5, 0x1A, 2, LoopState::Attention)},  // open
      {5, 0x19, 3, 0, answer(5, 0x1A, 3, LoopState::Attention)},  // short
      {5, 0x19, 4, 0, answer(5, 0x1A, 4, LoopState::Alarm)},
      {5, 0x19, 5, 0, answer(5, 0x1A, 5, LoopState::Disabled)},
      {5, 0x19, 7, 0, answer(5, 0x1A, 7, LoopState::Disarmed)},   // no alarm while disarmed
      {7, 1, 0, 1, answer(7, 7, 0, 0)},                           // a false device
      {127, 0x39, 1, 4, answer(127, 0x3A, 4, restingAdc(5, 1))},  // class 4: the reading
      {127, 0x39, 2, 4, answer(127, 0x3A, 0, 2)},                 // kind 1 has no reading
      {127, 0x39, 4, 1, answer(127, 0x3A, 0, 4)},
      {127, 0x39, 100, 1, answer(127, 0x3A, 0, 1)},  // nothing connected: off
      {127, 0x39, 1, 7, answer(127, 0x3A, 0, 2)},    // unknown query
  };
  for (const auto& [address, command, d1, d2, expected] : exchanges) {
    EXPECT_EQ(ask(bus, address, command, d1, d2), expected)
        << int(address) << " cmd " << int(command) << " " << int(d1) << " " << int(d2);
  }
}

TEST(SimulatedDevices, FramesTheyDoNotTake) {
  SimulatedBus bus = busOf("[device 5]\n");
  Bytes bad = withChecksum({5, 6, 0, 1, 0, 0});
  bad.back() ^= 1;
  for (const Bytes& frame :
       {withChecksum({0, 6, 0, 1, 0, 0}), bad, withChecksum({5, 7, 0, 1, 0, 0}),
        withChecksum({5, 4, 0, 1}), Bytes{}, Bytes(300, 0xFF)}) {
    EXPECT_EQ(bus.respond(frame), std::nullopt) << frameToText(frame);
  }
  EXPECT_EQ(bus.respond(withChecksum({5, 5, 0, 1, 0})), answer(5, 2, 0, 0)) << "one data byte";

  // The presence request to 63 runs through entry 0xF9, where the tables differ.
  SimulatedBus published = busOf("[bus]\ncrc = published\n[device 63]\ntype = 11\n");
  EXPECT_EQ(published.respond(withChecksum({63, 6, 0, 1, 0, 0})), std::nullopt);
  EXPECT_EQ(ask(published, 63, 1, 0, 0), withChecksum({63, 5, 2, 0, 0}, CrcTable::Published));
}

TEST(SimulatedDevices, KeyedFormRoundTripsThroughTheEngine) {
  SimulatedBus bus = busOf("[bus]\ndrift = no\n[device 5]\ntype = 2\nversion = 160\nkey = 0x5A\n");
  std::array<uint16_t, 128> keyWords;
  keyWords.fill(NoKey);
  keyWords[5] = 0x5A;
  for (uint8_t modifier : {1, 77, 254}) {
    std::optional<uint8_t> key;
    auto reply = bus.respond(
        buildFrame({133, 6, modifier, 13, 0, 0}, keyWords.data(), CrcTable::Carried, key));
    ASSERT_TRUE(reply && key);
    EXPECT_EQ(FrameChecksum(reply->data(), 5), reply->back()) << "checksum over the bytes as sent";
    unscrambleAnswer(*reply, key);
    EXPECT_EQ(Bytes(reply->begin(), reply->end() - 1), (Bytes{5, 5, 0, 2, 160}));
  }
  EXPECT_EQ(ask(bus, 5, 13, 0, 0), answer(5, 0, 2, 160)) << "plain requests stay plain";
}

TEST(Scenarios, MistakesNameTheirLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"[device 0]\n", "line 1"},
      {"[device 5]\n[device 5]\n", "line 2"},
      {"[device 5]\n\n; comment\ncolour = red\n", "line 4"},
      {"[bus]\ncrc = other\n", "line 2"},
      {"[device 5]\nevent = 4 3\n", "line 2"},
      {"[device 5]\nsilent = maybe\n", "line 2"},
      {"[device 5]\naway = 3\n", "line 2"},
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
  const Scenario hex = parseScenario("[DEVICE 0x10] ; sixteen\nTYPE = 0x0B\n");
  EXPECT_EQ(hex.devices.at(0).address, 16);
  EXPECT_EQ(hex.devices.at(0).type, 11);
}
