#pragma once
// The program's texts in the user's language, from GNU gettext catalogs: a
// .po file per language, compiled by msgfmt at build time and read here by a
// reader of our own, so that every platform (mingw has no libintl) takes the
// same files the same way. The English text is the key; a text a catalog
// lacks stays English.

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace loopmon {

// One compiled catalog (a .mo file) held in memory.
class MessageCatalog {
 public:
  // The catalog in `bytes`; no value for anything but a well-formed .mo file
  // of either byte order (every string inside it, ending in its NUL).
  static std::optional<MessageCatalog> parse(std::string bytes);

  // The translation of `english`; null when the catalog has none.
  const char* find(std::string_view english) const;

 private:
  struct Entry {
    uint32_t original;  // offsets into bytes_ of NUL-ended strings
    uint32_t translation;
  };
  std::string bytes_;
  std::vector<Entry> entries_;  // sorted by original, as msgfmt writes them
};

// Where a catalog of `domain` for `language` may stand, in this order: beside
// the program (locale/LL/LC_MESSAGES/, the Windows installation and the build
// tree), then the system's share/locale beside the program's bin folder.
std::vector<std::string> catalogPaths(const std::string& programFolder, const std::string& domain,
                                      const std::string& language);

// Takes the first catalog of `domain` found for the user's languages
// (userLanguages(), most preferred first); English when there is none.
void useUserLanguage(const std::string& domain);

// Installs `catalog` as the program's (none: English).
void useCatalog(std::optional<MessageCatalog> catalog);

// The user's-language form of an English text, or the text itself. A printf
// format stays one, with the same conversions (msgfmt --check-format).
[[gnu::format_arg(1)]] const char* tr(const char* english);

// tr(english) with each "%s" replaced by the next of `values`.
std::string trWith(const char* english, std::initializer_list<std::string_view> values);

}  // namespace loopmon
