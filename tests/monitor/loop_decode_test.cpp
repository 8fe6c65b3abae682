#include "monitor/loop_decode.h"

#include <gtest/gtest.h>

using namespace loopmon;

TEST(LoopDecode, StateTexts) {
  const std::pair<int, const char*> known[] = {
      {3, "тревога"},   {17, "не взятие"},     {24, "на охране"}, {37, "п. тревога"},
      {44, "внимание"}, {109, "не на охране"}, {187, "отключен"}};
  for (const auto& [code, text] : known) EXPECT_EQ(LoopStateText(code), text);
  for (int code : {0, 1, 4, 25, 110, 186, 188, 255}) EXPECT_EQ(LoopStateText(code), "") << code;
}

TEST(LoopDecode, Resistance) {
  const Coefficients c{408, -1};
  EXPECT_EQ(ResistanceText(0, c, ','), "Обрыв");
  EXPECT_EQ(ResistanceText(255, c, ','), "КЗ");
  EXPECT_EQ(ResistanceText(100, c, ','), "3,1");
  EXPECT_EQ(ResistanceText(100, c, '.'), "3.1");
  EXPECT_EQ(ResistanceText(96, c, '.'), "3.3");
  EXPECT_EQ(ResistanceText(160, c, '.'), "1.6");
  EXPECT_EQ(ResistanceText(254, c, '.'), "0.6");
  EXPECT_EQ(ResistanceText(1, {-408, 0}, '.'), "-408.0");
  EXPECT_EQ(ResistanceText(1, {1e30, 0}, '.'), "1E30");
  for (int adc = 1; adc <= 254; ++adc) {
    EXPECT_EQ(ResistanceText(adc, {0, 0}, ','), "0,0") << "unknown types read 0.0 everywhere";
  }
}

TEST(LoopDecode, LineDeviceKinds) {
  const auto decode = [](uint8_t answerClass, uint8_t value, uint8_t adc) {
    return DecodeLineDevice({5, 6, CodeLineDeviceKind, answerClass, value, 0}, adc);
  };
  EXPECT_EQ(decode(1, 5, 160).text, "Пожар замк.");
  EXPECT_EQ(decode(0, 3, 0).text, "? - 3");
  EXPECT_EQ(decode(0, 1, 0).text, "откл.");
  EXPECT_EQ(decode(0, 2, 0).text, "не поддерж.");
  EXPECT_EQ(decode(0, 4, 0).text, "не готов");
  EXPECT_EQ(decode(1, 1, 0).text, "Wixo v.1.02");
  EXPECT_EQ(decode(1, 7, 0).text, "Yuzo v.1.05");
  EXPECT_EQ(decode(1, 3, 100).text, "");
  // ADC boundaries of the kinds that depend on the reading.
  const struct {
    uint8_t kind;
    uint8_t adc;
    const char* text;
  } ranges[] = {{2, 3, "КЗ"},
                {2, 4, "Норма"},
                {2, 15, "Норма"},
                {2, 16, "Обрыв"},
                {4, 119, "Обрыв"},
                {4, 120, "Норма"},
                {4, 155, "Норма"},
                {4, 156, "КЗ"},
                {5, 81, "Обрыв"},
                {5, 82, "Пожар обрыв"},
                {5, 128, "Пожар обрыв"},
                {5, 129, "Норма"},
                {5, 153, "Норма"},
                {5, 154, "Пожар замк."},
                {5, 172, "Пожар замк."},
                {5, 173, "КЗ"},
                {6, 3, "КЗ"},
                {6, 4, "Норма"},
                {6, 12, "Норма"},
                {6, 13, "Пожар обрыв"},
                {6, 28, "Пожар обрыв"},
                {6, 29, "Обрыв"},
                {6, 255, "Обрыв"}};
  for (const auto& r : ranges) {
    const LineDeviceText decoded = decode(1, r.kind, r.adc);
    EXPECT_EQ(decoded.text, r.text) << int(r.kind) << " at " << int(r.adc);
    EXPECT_FALSE(decoded.message);
  }
  for (uint8_t kind : {0, 8, 255}) {
    const LineDeviceText decoded = decode(1, kind, 100);
    EXPECT_EQ(decoded.text, "");
    EXPECT_EQ(decoded.message, "Неизвестный тип устройства: " + std::to_string(kind));
  }
  EXPECT_EQ(decode(2, 5, 160).text, "");
  EXPECT_FALSE(decode(200, 5, 160).message);
}

TEST(LoopDecode, UnexpectedAnswers) {
  const LineDeviceText wrongCode = DecodeLineDevice({5, 6, 0x0A, 1, 5, 0}, 160);
  EXPECT_EQ(wrongCode.text, "");
  EXPECT_EQ(wrongCode.message, "Возможно команда не поддерживается: 10");
  const LineDeviceText shortAnswer = DecodeLineDevice({5, 6, CodeLineDeviceKind, 1}, 160);
  EXPECT_EQ(shortAnswer.text, "");
  EXPECT_FALSE(shortAnswer.message);
}
