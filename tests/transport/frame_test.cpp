#include "transport/frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>

#include "bus_fixture.h"
#include "transport/sim_exchange.h"

using namespace loopmon;
using loopmon::testing::withChecksum;

TEST(FrameChecksum, KnownValues) {
  EXPECT_EQ(FrameChecksum(nullptr, 0), 0);
  const std::string digits = "123456789";
  EXPECT_EQ(FrameChecksum(reinterpret_cast<const uint8_t*>(digits.data()), digits.size()), 0xA1);
  EXPECT_EQ(withChecksum({5, 6, 0, 1, 0, 0}).back(), 0xDC);
  EXPECT_EQ(FrameChecksum(withChecksum({5, 6, 0, 1, 0, 0})), 0) << "a whole valid frame";
  EXPECT_EQ(withChecksum(acknowledgementRequest(5 + 128)), (Bytes{5, 6, 0, 3, 0, 1, 0xCD}));

  // The presence request to 63 passes through the entry where the tables differ.
  EXPECT_EQ(withChecksum({63, 6, 0, 1, 0, 0}, CrcTable::Carried).back(), 0xC8);
  EXPECT_EQ(withChecksum({63, 6, 0, 1, 0, 0}, CrcTable::Published).back(), 0xFE);
  for (CrcTable table : {CrcTable::Carried, CrcTable::Published}) {
    EXPECT_EQ(FrameChecksum(withChecksum({63, 6, 0, 1, 0, 0}, table), table), 0);
  }
}

namespace {

uint8_t fixedModifier() {
  return 0x33;
}

// Key word 0x5A for address 5, no key elsewhere.
std::array<uint16_t, KeyWordCount> keyWords(uint16_t forAddress5 = 0x5A) {
  std::array<uint16_t, KeyWordCount> words;
  words.fill(NoKey);
  words[5] = forAddress5;
  return words;
}

}  // namespace

TEST(KeyedForm, PreparationKeysOnlyKnownKeysInKeyedMode) {
  const Bytes request{5, 6, 0, 0x1B, 3, 0};
  EXPECT_EQ(keyRequest(request, false, keyWords().data(), fixedModifier), request);
  for (uint16_t unknown : {uint16_t{0}, NoKey}) {
    EXPECT_EQ(keyRequest(request, true, keyWords(unknown).data(), fixedModifier), request);
  }
  EXPECT_EQ(keyRequest(request, true, keyWords().data(), fixedModifier),
            (Bytes{133, 6, 0x33, 0x1B, 3, 0}));
  for (const Bytes& unchanged : {Bytes{5, 6, 0, 0x1B, 3}, Bytes{133, 6, 0, 0x1B, 3, 0}}) {
    EXPECT_EQ(keyRequest(unchanged, true, keyWords().data(), fixedModifier), unchanged)
        << "5 bytes or already keyed";
  }
}

TEST(KeyedForm, ScramblingAndDescrambling) {
  const auto words = keyWords();
  std::optional<uint8_t> key;
  EXPECT_EQ(buildFrame({133, 6, 0x33, 0x1B, 3, 0}, words.data(), CrcTable::Carried, key),
            withChecksum({133, 6, 0x33, 0x1B ^ 0x69, 3 ^ 0x69, 0x69}));
  EXPECT_EQ(key, uint8_t{0x5A ^ 0x33});
  // A 5-byte request whose Address already has bit 7 set is scrambled too.
  EXPECT_EQ(buildFrame({133, 6, 0x33, 0x1B, 3}, words.data(), CrcTable::Carried, key),
            withChecksum({133, 6, 0x33, 0x1B ^ 0x69, 3 ^ 0x69}));
  EXPECT_EQ(buildFrame({5, 6, 0, 1, 0, 0}, words.data(), CrcTable::Carried, key),
            withChecksum({5, 6, 0, 1, 0, 0}));
  EXPECT_EQ(key, std::nullopt);

  // Frames that must not go on the line.
  EXPECT_TRUE(
      buildFrame({133, 6, 1, 1, 0, 0}, keyWords(NoKey).data(), CrcTable::Carried, key).empty());
  EXPECT_TRUE(buildFrame(Bytes(255, 5), words.data(), CrcTable::Carried, key).empty());
  EXPECT_EQ(buildFrame(Bytes(254, 5), words.data(), CrcTable::Carried, key).size(), 255u);

  Bytes answer{133, 6, 0 ^ 0x69, 0x21 ^ 0x69, 0x64 ^ 0x69, 0x07 ^ 0x69, 0xEE};
  unscrambleAnswer(answer, uint8_t{0x69});
  EXPECT_EQ(answer, (Bytes{5, 6, 0, 0x21, 0x64, 0x07, 0xEE ^ 0x69}));
  Bytes plain{133, 5, 4, 1, 2, 0xEE};
  unscrambleAnswer(plain, std::nullopt);
  EXPECT_EQ(plain, (Bytes{5, 5, 4, 1, 2, 0xEE}));
}

TEST(KeyedForm, RandomModifierCoversOneTo254) {
  std::array<int, 256> seen{};
  for (int i = 0; i < 50'000; ++i) ++seen[randomModifier()];
  EXPECT_EQ(seen[0] + seen[255], 0);
  // About 197 each; a generator that skips or favours values shows here.
  EXPECT_GT(*std::min_element(seen.begin() + 1, seen.end() - 1), 100);
  EXPECT_LT(*std::max_element(seen.begin() + 1, seen.end() - 1), 320);
}

// The simulator's text form: single-space-separated numbers 0..255, as many
// as a frame holds.
TEST(TextForm, NumbersUpToAFullFrame) {
  const std::pair<std::string, std::optional<Bytes>> cases[] = {
      {"5 6 0 1 0 0 220", Bytes{5, 6, 0, 1, 0, 0, 220}},
      {"", Bytes{}},
      {"0 255", Bytes{0, 255}},
      {"256", std::nullopt},
      {"1  2", std::nullopt},
      {" 1", std::nullopt},
      {"1 ", std::nullopt},
      {"-1", std::nullopt},
      {"+1", std::nullopt},
      {"1,2", std::nullopt},
      {"x", std::nullopt},
  };
  for (const auto& [text, bytes] : cases) EXPECT_EQ(frameFromText(text), bytes) << text;

  const std::string full = frameToText(Bytes(MaxFrameBytes, 7));
  EXPECT_EQ(frameFromText(full), Bytes(MaxFrameBytes, 7));
  EXPECT_EQ(frameFromText(full + " 7"), std::nullopt);
  SimulatorBuffer buffer;
  EXPECT_TRUE(ParseFrameText(full, buffer));
  EXPECT_EQ(buffer.count, MaxFrameBytes);
  EXPECT_FALSE(ParseFrameText(full + " 7", buffer));
  EXPECT_EQ(buffer.count, 0u);
}
