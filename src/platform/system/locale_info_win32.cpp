#include "platform/system/locale_info.h"
#include "platform/system/windows_api_win32.h"

namespace loopmon {

char userDecimalSeparator() {
  wchar_t separator[8] = {};
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8) == 0) return '.';
  // Number texts are built from one byte; the locales in use have '.' or ','.
  return separator[0] > 0 && separator[0] < 0x80 ? static_cast<char>(separator[0]) : '.';
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
