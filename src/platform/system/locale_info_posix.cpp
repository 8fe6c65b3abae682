#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <string_view>

#include "platform/system/locale_info.h"

namespace loopmon {

// The user's choice comes from the environment (LC_ALL, LC_NUMERIC, LANG), the
// way setlocale(LC_NUMERIC, "") would take it; a locale object of our own is
// used so that the process keeps the "C" conventions everywhere else (number
// texts in files, stream output of the libraries).
char userDecimalSeparator() {
  locale_t user = ::newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
  if (user == static_cast<locale_t>(0)) return '.';
  const char* radix = ::nl_langinfo_l(RADIXCHAR, user);
  // Only single-byte separators can be told apart by the callers; any other
  // falls back to the point.
  char separator = radix && radix[0] != '\0' && radix[1] == '\0' ? radix[0] : '.';
  ::freelocale(user);
  return separator;
}

std::vector<std::string> userLanguages() {
  const auto variable = [](const char* name) -> std::string {
    const char* value = std::getenv(name);
    return value ? value : "";
  };
  std::string locale = variable("LC_ALL");
  if (locale.empty()) locale = variable("LC_MESSAGES");
  if (locale.empty()) locale = variable("LANG");
  const std::string_view base = std::string_view(locale).substr(0, locale.find_first_of(".@"));
  if (base.empty() || base == "C" || base == "POSIX") return {};
  std::vector<std::string> languages;
  // LANGUAGE orders the languages of a chosen locale, as gettext lets it.
  const std::string list = variable("LANGUAGE");
  for (size_t start = 0; start < list.size();) {
    const size_t end = std::min(list.find(':', start), list.size());
    if (end > start) addLanguageNames(languages, list.substr(start, end - start));
    start = end + 1;
  }
  if (languages.empty()) addLanguageNames(languages, locale);
  return languages;
}

std::string spreadsheetFileText(const std::string& lines) {
  return lines;
}

}  // namespace loopmon
