#include "platform/system/windows_api_win32.h"

#include <cstdio>

namespace loopmon::win32 {

std::wstring widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  const int wideCount = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(wideCount), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), wideCount);
  return wide;
}

std::string narrow(const wchar_t* utf16, size_t count) {
  if (count == 0) return {};
  const int size = static_cast<int>(count);
  const int byteCount = WideCharToMultiByte(CP_UTF8, 0, utf16, size, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(byteCount), '\0');
  WideCharToMultiByte(CP_UTF8, 0, utf16, size, text.data(), byteCount, nullptr, nullptr);
  return text;
}

std::string systemMessage(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text = narrow(buffer, length);
  LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  if (text.empty()) {
    char hex[16];
    snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
    text = std::string("error ") + hex;
  }
  return text;
}

}  // namespace loopmon::win32
