#include "transport/answer_rule.h"

#include <gtest/gtest.h>

using namespace loopmon;

namespace {

struct RuleCase {
  const char* what;
  Bytes request;
  Bytes answer;
  bool fits;
};

// Answers as the session keeps them; the checksum byte is not looked at.
const RuleCase Cases[] = {
    {"ADC by 0x1B", {5, 6, 0, 0x1B, 2, 0}, {5, 5, 0x1C, 2, 20, 0}, true},
    {"ADC by 0x1B, line-device form", {5, 6, 0, 0x1B, 2, 0}, {5, 5, 0x3A, 4, 20, 0}, true},
    {"ADC by 0x39 data 4", {5, 6, 0, 0x39, 2, 4}, {5, 5, 0x3A, 4, 20, 0}, true},
    {"ADC by 0x39 data 4, 0x1C form", {5, 6, 0, 0x39, 2, 4}, {5, 5, 0x1C, 2, 20, 0}, true},
    {"ADC from another device", {5, 6, 0, 0x1B, 2, 0}, {6, 5, 0x1C, 2, 20, 0}, false},
    {"ADC answer of 7 bytes", {5, 6, 0, 0x1B, 2, 0}, {5, 6, 0x1C, 2, 20, 0, 0}, false},
    {"identity taken for ADC", {5, 6, 0, 0x1B, 1, 0}, {5, 5, 0, 4, 105, 0}, false},
    {"presence answer taken for ADC", {5, 6, 0, 0x1B, 1, 0}, {5, 5, 2, 0, 0, 0}, false},
    {"loop state taken for ADC", {5, 6, 0, 0x1B, 1, 0}, {5, 5, 0x1A, 1, 24, 0}, false},
    {"line-device class 1 taken for ADC", {5, 6, 0, 0x1B, 1, 0}, {5, 5, 0x3A, 1, 4, 0}, false},
    {"ADC refusal is no reading", {5, 6, 0, 0x39, 2, 4}, {5, 5, 0x3A, 0, 2, 0}, false},
    {"loop kind", {9, 6, 0, 0x39, 3, 1}, {9, 5, 0x3A, 1, 5, 0}, true},
    {"loop kind of 7 bytes", {9, 6, 0, 0x39, 3, 1}, {9, 6, 0x3A, 1, 5, 0, 0}, true},
    {"loop kind, condition class", {9, 6, 0, 0x39, 3, 1}, {9, 5, 0x3A, 0, 1, 0}, false},
    {"loop kind, ADC taken", {9, 6, 0, 0x39, 3, 1}, {9, 5, 0x1C, 3, 40, 0}, false},
    {"identity", {5, 6, 0, 0x0D, 0, 0}, {5, 5, 0, 4, 105, 0}, true},
    {"identity, refused", {5, 6, 0, 0x0D, 0, 0}, {5, 5, 10, 4, 105, 0}, false},
    {"identity, ADC taken", {5, 6, 0, 0x0D, 0, 0}, {5, 5, 0x1C, 1, 10, 0}, false},
    {"identity from another device", {5, 6, 0, 0x0D, 0, 0}, {7, 5, 0, 4, 105, 0}, false},
    {"keyed request, plain answer", {133, 6, 0x33, 0x0D, 0, 0}, {5, 5, 0, 4, 105, 0}, true},
    {"presence, any code", {5, 6, 0, 1, 0, 0}, {5, 5, 7, 0, 0, 0}, true},
    {"presence from another device", {5, 6, 0, 1, 0, 0}, {4, 5, 2, 0, 0, 0}, false},
    {"loop state, any code", {5, 6, 0, 0x19, 3, 0}, {5, 5, 0x1A, 3, 24, 0}, true},
    {"answer of 5 bytes", {5, 6, 0, 1, 0, 0}, {5, 4, 2, 0, 0}, false},
};

}  // namespace

TEST(AnswerRule, EachRequestTakesOnlyItsOwnKindOfAnswer) {
  for (const RuleCase& c : Cases) {
    EXPECT_EQ(AnswerFitsRequest(c.request, c.answer), c.fits) << c.what;
  }
  EXPECT_TRUE(IsAdcRefusal({5, 5, 0x3A, 0, 2, 0}));
  EXPECT_FALSE(IsAdcRefusal({5, 5, 0x3A, 0, 1, 0}));
  EXPECT_FALSE(IsAdcRefusal({5, 6, 0x3A, 0, 2, 0, 0}));
}
