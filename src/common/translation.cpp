#include "common/translation.h"

#include <algorithm>
#include <cstring>

#include "platform/store/program_folder.h"
#include "platform/store/whole_file.h"
#include "platform/system/locale_info.h"

namespace loopmon {
namespace {

constexpr uint32_t Magic = 0x950412DE;
constexpr uint32_t SwappedMagic = 0xDE120495;

uint32_t word(const std::string& bytes, size_t offset, bool swapped) {
  uint32_t value = 0;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  if (swapped) {
    value = (value >> 24) | ((value >> 8) & 0xFF00) | ((value << 8) & 0xFF0000) | (value << 24);
  }
  return value;
}

// The offset of the string that table entry `index` describes, when it lies
// inside the file and ends in its NUL.
std::optional<uint32_t> stringAt(const std::string& bytes, uint32_t table, uint32_t index,
                                 bool swapped) {
  const uint64_t descriptor = uint64_t{table} + uint64_t{index} * 8;
  if (descriptor + 8 > bytes.size()) return std::nullopt;
  const uint32_t length = word(bytes, descriptor, swapped);
  const uint32_t offset = word(bytes, descriptor + 4, swapped);
  if (uint64_t{offset} + length >= bytes.size() || bytes[offset + length] != '\0')
    return std::nullopt;
  return offset;
}

std::optional<MessageCatalog>& installed() {
  static std::optional<MessageCatalog> catalog;
  return catalog;
}

}  // namespace

std::optional<MessageCatalog> MessageCatalog::parse(std::string bytes) {
  if (bytes.size() < 20) return std::nullopt;
  const uint32_t magic = word(bytes, 0, false);
  if (magic != Magic && magic != SwappedMagic) return std::nullopt;
  const bool swapped = magic == SwappedMagic;
  // Major revision 0 or 1 share this layout; a later one may not.
  if ((word(bytes, 4, swapped) >> 16) > 1) return std::nullopt;
  const uint32_t count = word(bytes, 8, swapped);
  const uint32_t originals = word(bytes, 12, swapped);
  const uint32_t translations = word(bytes, 16, swapped);
  if (count > bytes.size() / 16) return std::nullopt;
  MessageCatalog catalog;
  catalog.entries_.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    const auto original = stringAt(bytes, originals, i, swapped);
    const auto translation = stringAt(bytes, translations, i, swapped);
    if (!original || !translation) return std::nullopt;
    catalog.entries_.push_back({*original, *translation});
  }
  catalog.bytes_ = std::move(bytes);
  const char* base = catalog.bytes_.data();
  // A table out of order would make texts vanish at random; it is put in order
  // instead of trusted.
  std::ranges::sort(catalog.entries_, [base](const Entry& a, const Entry& b) {
    return std::strcmp(base + a.original, base + b.original) < 0;
  });
  return catalog;
}

const char* MessageCatalog::find(std::string_view english) const {
  const char* base = bytes_.data();
  const auto found = std::ranges::lower_bound(entries_, english, {}, [base](const Entry& entry) {
    return std::string_view(base + entry.original);
  });
  if (found == entries_.end() || std::string_view(base + found->original) != english)
    return nullptr;
  const char* translation = base + found->translation;
  // An untranslated entry (msgfmt drops them, other tools may not) keeps English.
  return translation[0] == '\0' ? nullptr : translation;
}

std::vector<std::string> catalogPaths(const std::string& programFolder, const std::string& domain,
                                      const std::string& language) {
  const std::string tail = language + "/LC_MESSAGES/" + domain + ".mo";
  return {programFolder + "locale/" + tail, programFolder + "../share/locale/" + tail};
}

void useUserLanguage(const std::string& domain) {
  const std::string folder = programFolder();
  for (const std::string& language : userLanguages()) {
    for (const std::string& path : catalogPaths(folder, domain, language)) {
      std::optional<std::string> bytes;
      try {
        bytes = readWholeFile(path);
      } catch (const FileError&) {
        // A catalog that cannot be read leaves the texts English, as none would.
      }
      if (!bytes) continue;
      if (auto catalog = MessageCatalog::parse(std::move(*bytes))) {
        useCatalog(std::move(catalog));
        return;
      }
    }
  }
  useCatalog(std::nullopt);
}

void useCatalog(std::optional<MessageCatalog> catalog) {
  installed() = std::move(catalog);
}

const char* tr(const char* english) {
  const auto& catalog = installed();
  if (!catalog) return english;
  const char* translation = catalog->find(english);
  return translation ? translation : english;
}

std::string trWith(const char* english, std::initializer_list<std::string_view> values) {
  const std::string_view pattern = tr(english);
  std::string text;
  auto value = values.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's' &&
        value != values.end()) {
      text += *value++;
      ++i;
    } else {
      text += pattern[i];
    }
  }
  return text;
}

}  // namespace loopmon
