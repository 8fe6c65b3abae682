#include "platform/system/locale_info.h"
#include "platform/system/windows_api_win32.h"

namespace loopmon {

char userDecimalSeparator() {
  wchar_t separator[8] = {};
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8) == 0) return '.';
  // Number texts are built from one byte; the locales in use have '.' or ','.
  return separator[0] > 0 && separator[0] < 0x80 ? static_cast<char>(separator[0]) : '.';
}

std::vector<std::string> userLanguages() {
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
  const LCID interface = MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT);
  if (LCIDToLocaleName(interface, name, LOCALE_NAME_MAX_LENGTH, 0) == 0) return {};
  std::string text;
  // Locale names are ASCII ("ru-RU").
  for (const wchar_t* c = name; *c != 0; ++c) text += static_cast<char>(*c);
  std::vector<std::string> languages;
  addLanguageNames(languages, text);
  return languages;
}

std::string spreadsheetFileText(const std::string& lines) {
  std::string text = "\xEF\xBB\xBF";
  text.reserve(text.size() + lines.size() + lines.size() / 16);
  for (char c : lines) {
    if (c == '\n') text += '\r';
    text += c;
  }
  return text;
}

}  // namespace loopmon
