// The certificate that ends a record's page: the SHA-256 of the record it
// carries, and the finding of a changed byte in the page or in the record.

#include <gtest/gtest.h>

#include "common/sha256.h"
#include "record/report.h"

namespace loopmon {
namespace {

TEST(Sha256, GivesTheStandardsDigests) {
  const struct {
    std::string bytes;
    const char* digest;
  } vectors[] = {
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      // 56 bytes: the length no longer fits the block, a second one follows.
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1'000'000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& [bytes, digest] : vectors) {
    EXPECT_EQ(Sha256Hex(bytes), digest) << bytes.substr(0, 60);
  }
}

SiteRecord site() {
  return {
      "Склад \"Север\"",
      "2026-12-06T14:03:07.125+03:00",
      "COM3",
      "loopctl",
      "1.3.0",
      {{5,
        1,
        "Mivra-Q",
        105,
        {{1, 100, 3.1, std::nullopt, "на охране", LoopCondition::Normal, LoopCondition::Normal}}}}};
}

// A page and its record as written, then each with one byte changed, or the
// page beside another record: whatever changed is told, nothing else.
TEST(Certificate, AChangedByteInThePageOrTheRecordIsFound) {
  const std::string json = RecordJson(site());
  const std::string page = ReportHtml(site(), Sha256Hex(json), nullptr, 10, ',');
  ASSERT_NE(page.find("Акт проверки шлейфов"), std::string::npos);
  ASSERT_GT(page.rfind("Заказчик"), page.rfind("ШС"));
  SiteRecord later = site();
  later.time = "2027-06-06T10:00:00+03:00";
  const auto changed = [](std::string text, size_t at) {
    text[at] ^= 1;
    return text;
  };
  const size_t reading = json.find("3.1");
  const size_t keptDigest = page.find(Sha256Hex(json).substr(8, 8));
  const size_t shownDigest = page.rfind(Sha256Hex(json).substr(8, 8));
  const size_t cell = page.find(">3,1<");
  const struct {
    const char* what;
    std::string page, record;
    bool intact, recordChanged, otherRecord;
  } cases[] = {
      {"as written", page, json, true, false, false},
      {"a reading in the record", page, changed(json, reading), true, true, false},
      {"the record's last byte", page, changed(json, json.size() - 1), true, true, false},
      {"another record", page, RecordJson(later), true, true, true},
      {"a reading on the page", changed(page, cell + 1), json, false, false, false},
      {"the digest shown", changed(page, shownDigest), json, false, false, false},
      {"the digest kept", changed(page, keptDigest), json, false, true, false},
      {"the page's first byte", changed(page, 0), json, false, false, false},
      {"the page's last byte", changed(page, page.size() - 2), json, false, false, false},
      {"both", changed(page, cell + 1), changed(json, reading), false, true, false},
  };
  for (const auto& [what, html, record, intact, recordChanged, otherRecord] : cases) {
    const std::optional<PageCheck> check = CheckPage(html, record);
    ASSERT_TRUE(check) << what;
    EXPECT_EQ(std::tuple(check->seal.intact, check->recordChanged, check->otherRecord),
              std::tuple(intact, recordChanged, otherRecord))
        << what;
    EXPECT_EQ(check->belong(), intact && !recordChanged) << what;
  }
  EXPECT_EQ(CheckPage(page, json)->seal.site, site().site);
  EXPECT_FALSE(CheckPage("<!DOCTYPE html><html></html>", json));
}

}  // namespace
}  // namespace loopmon
