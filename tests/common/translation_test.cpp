// The catalog reader against the files msgfmt writes, their other byte order
// and damaged ones.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>

#include "common/translation.h"

namespace loopmon {
namespace {

// A .mo file as msgfmt lays it out: header, the two tables, then the strings.
std::string moFile(const std::map<std::string, std::string>& texts, bool bigEndian = false) {
  std::string bytes;
  const auto put = [&bytes, bigEndian](uint32_t value) {
    for (int i = 0; i < 4; ++i) {
      const int shift = bigEndian ? 24 - 8 * i : 8 * i;
      bytes += static_cast<char>((value >> shift) & 0xFF);
    }
  };
  const auto count = static_cast<uint32_t>(texts.size());
  put(0x950412DE);
  put(0);
  put(count);
  put(28);
  put(28 + 8 * count);
  put(0);
  put(28 + 16 * count);
  uint32_t offset = 28 + 16 * count;
  std::string strings;
  for (int table = 0; table < 2; ++table) {
    for (const auto& [english, translated] : texts) {
      const std::string& text = table == 0 ? english : translated;
      put(static_cast<uint32_t>(text.size()));
      put(offset);
      offset += static_cast<uint32_t>(text.size()) + 1;
      strings += text + '\0';
    }
  }
  return bytes + strings;
}

const std::map<std::string, std::string> Texts{{"", "Content-Type: text/plain; charset=UTF-8\n"},
                                               {"no help for %s", "нет справки по %s"},
                                               {"type", "тип"},
                                               {"untranslated", ""}};

TEST(MessageCatalog, FindsTranslationsInEitherByteOrder) {
  for (const bool bigEndian : {false, true}) {
    const auto catalog = MessageCatalog::parse(moFile(Texts, bigEndian));
    ASSERT_TRUE(catalog) << bigEndian;
    EXPECT_STREQ(catalog->find("type"), "тип");
    EXPECT_STREQ(catalog->find("no help for %s"), "нет справки по %s");
    EXPECT_EQ(catalog->find("typ"), nullptr);
    EXPECT_EQ(catalog->find("untranslated"), nullptr) << "an empty translation keeps English";
  }
}

TEST(MessageCatalog, RefusesDamagedFiles) {
  const std::string good = moFile(Texts);
  std::string unterminated = good;
  unterminated.back() = 'x';
  std::string outside = good;
  outside[28 + 4] = '\x7F';  // the first original's offset far beyond the end
  std::string later = good;
  later[6] = 2;  // major revision 2
  for (const std::string& bad :
       {std::string(), good.substr(0, 27), good.substr(0, good.size() - 3), unterminated, outside,
        later, std::string("\xDE\x12\x04\x95") + std::string(24, '\xFF')}) {
    EXPECT_FALSE(MessageCatalog::parse(bad)) << bad.size();
  }
}

TEST(Translation, UsesTheInstalledCatalogAndFallsBackToEnglish) {
  useCatalog(MessageCatalog::parse(moFile(Texts)));
  EXPECT_EQ(trWith("no help for %s", {"scan"}), "нет справки по scan");
  EXPECT_STREQ(tr("unknown"), "unknown");
  useCatalog(std::nullopt);
  EXPECT_EQ(trWith("%s: '%s' is not a number", {"--addr", "x"}), "--addr: 'x' is not a number");
}

}  // namespace
}  // namespace loopmon
