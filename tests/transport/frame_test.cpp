#include "transport/frame.h"

#include <gtest/gtest.h>

#include <string>

using namespace loopmon;

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

  for (const char* bad : {"256", "5  6", " 5", "5 ", "5,6", "-1", "x", "5 6a", "+5", "99999999999999999999"}) {
    EXPECT_EQ(frameFromText(bad), std::nullopt) << bad;
  }

  std::string many = "1";
  for (int i = 1; i < 255; ++i) many += " 1";
  EXPECT_EQ(frameFromText(many)->size(), 255u);
  EXPECT_EQ(frameFromText(many + " 1"), std::nullopt) << "more than 255 numbers";
}
