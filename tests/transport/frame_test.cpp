#include "transport/frame.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

using namespace loopmon;

namespace {

Bytes withChecksumOf(Bytes frame) {
  frame.push_back(FrameChecksum(frame));
  return frame;
}

}  // namespace

TEST(FrameChecksum, KnownValues) {
  EXPECT_EQ(FrameChecksum(nullptr, 0), 0);
  const std::string digits = "123456789";
  EXPECT_EQ(FrameChecksum(reinterpret_cast<const uint8_t*>(digits.data()), digits.size()), 0xA1);

  Bytes presence{5, 6, 0, 1, 0, 0};
  EXPECT_EQ(FrameChecksum(presence), 0xDC);
  Bytes ack = acknowledgementRequest(5 + 128);
  EXPECT_EQ(ack, (Bytes{5, 6, 0, 3, 0, 1}));
  EXPECT_EQ(FrameChecksum(ack), 0xCD);

  presence.push_back(0xDC);
  EXPECT_EQ(FrameChecksum(presence), 0) << "a whole valid frame checks to zero";
}

TEST(FrameChecksum, Entry0xF9DependsOnTable) {
  Bytes presence63{63, 6, 0, 1, 0, 0};
  EXPECT_EQ(FrameChecksum(presence63, CrcTable::Carried), 0xC8);
  EXPECT_EQ(FrameChecksum(presence63, CrcTable::Published), 0xFE);
  for (CrcTable table : {CrcTable::Carried, CrcTable::Published}) {
    Bytes frame = presence63;
    frame.push_back(FrameChecksum(presence63, table));
    EXPECT_EQ(FrameChecksum(frame, table), 0);
  }
}

TEST(FrameText, RoundTripAndRefusals) {
  EXPECT_EQ(frameToText({5, 6, 0, 1, 0, 0, 220}), "5 6 0 1 0 0 220");
  EXPECT_EQ(frameFromText("5 6 0 1 0 0 220"), (Bytes{5, 6, 0, 1, 0, 0, 220}));
  EXPECT_EQ(frameFromText(""), Bytes{});
  EXPECT_EQ(frameFromText("255 0"), (Bytes{255, 0}));

  for (const char* bad :
       {"256", "5  6", " 5", "5 ", "5,6", "-1", "x", "5 6a", "+5", "99999999999999999999"}) {
    EXPECT_EQ(frameFromText(bad), std::nullopt) << bad;
  }

  std::string many = "1";
  for (int i = 1; i < 255; ++i) many += " 1";
  EXPECT_EQ(frameFromText(many)->size(), 255u);
  EXPECT_EQ(frameFromText(many + " 1"), std::nullopt) << "more than 255 numbers";
}

namespace {

uint8_t fixedModifier() {
  return 0x33;
}

std::array<uint16_t, KeyWordCount> keyWords(uint16_t forAddress5) {
  std::array<uint16_t, KeyWordCount> words;
  words.fill(NoKey);
  words[5] = forAddress5;
  return words;
}

}  // namespace

TEST(KeyedForm, PreparationKeysOnlyKnownKeysInKeyedMode) {
  const Bytes request{5, 6, 0, 0x1B, 3, 0};
  EXPECT_EQ(keyRequest(request, false, keyWords(0x5A).data(), fixedModifier), request);
  EXPECT_EQ(keyRequest(request, true, keyWords(0).data(), fixedModifier), request);
  EXPECT_EQ(keyRequest(request, true, keyWords(NoKey).data(), fixedModifier), request);
  EXPECT_EQ(keyRequest(request, true, keyWords(0x5A).data(), fixedModifier),
            (Bytes{133, 6, 0x33, 0x1B, 3, 0}));
  EXPECT_EQ(keyRequest({5, 6, 0, 0x1B, 3}, true, keyWords(0x5A).data(), fixedModifier),
            (Bytes{5, 6, 0, 0x1B, 3}))
      << "a 5-byte request is not keyed by preparation";
  EXPECT_EQ(keyRequest({133, 6, 0, 0x1B, 3, 0}, true, keyWords(0x5A).data(), fixedModifier),
            (Bytes{133, 6, 0, 0x1B, 3, 0}))
      << "already keyed";
}

TEST(KeyedForm, ScramblingAndDescrambling) {
  const auto words = keyWords(0x5A);
  std::optional<uint8_t> key;
  const Bytes frame = buildFrame({133, 6, 0x33, 0x1B, 3, 0}, words.data(), CrcTable::Carried, key);
  ASSERT_EQ(key, uint8_t{0x5A ^ 0x33});
  const Bytes scrambled{133, 6, 0x33, 0x1B ^ 0x69, 3 ^ 0x69, 0x69};
  EXPECT_EQ(frame, withChecksumOf(scrambled));

  // The engine scrambles a 5-byte request whose Address already has bit 7 set.
  EXPECT_EQ(buildFrame({133, 6, 0x33, 0x1B, 3}, words.data(), CrcTable::Carried, key),
            withChecksumOf({133, 6, 0x33, 0x1B ^ 0x69, 3 ^ 0x69}));
  EXPECT_EQ(buildFrame({5, 6, 0, 1, 0, 0}, words.data(), CrcTable::Carried, key),
            (Bytes{5, 6, 0, 1, 0, 0, 0xDC}));
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
  EXPECT_EQ(seen[0], 0);
  EXPECT_EQ(seen[255], 0);
  for (int value = 1; value <= 254; ++value) {
    // About 197 each; a generator that skips or favours values shows here.
    EXPECT_GT(seen[value], 100) << value;
    EXPECT_LT(seen[value], 320) << value;
  }
}
