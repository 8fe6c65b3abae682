#include "platform/system/locale_info.h"
#include "platform/system/windows_api_win32.h"

namespace loopmon {

char userDecimalSeparator() {
  wchar_t separator[8] = {};
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8) == 0) return '.';
  // Number texts are built from one byte; the locales in use have '.' or ','.
  return separator[0] > 0 && separator[0] < 0x80 ? static_cast<char>(separator[0]) : '.';
}

}  // namespace loopmon
