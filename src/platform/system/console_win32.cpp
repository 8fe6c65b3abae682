#include <io.h>

#include <string>

#include "platform/system/console.h"
#include "platform/system/windows_api_win32.h"

#include <shellapi.h>

namespace loopmon {
namespace {

// The console behind `stream`, or null for a pipe, a file or no handle.
HANDLE consoleOf(std::FILE* stream, DWORD* mode) {
  const intptr_t handle = _get_osfhandle(_fileno(stream));
  if (handle == -1) return nullptr;
  DWORD ignored = 0;
  if (!GetConsoleMode(reinterpret_cast<HANDLE>(handle), mode ? mode : &ignored)) return nullptr;
  return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

bool isConsole(std::FILE* stream) {
  return consoleOf(stream, nullptr) != nullptr;
}

bool consoleTakesEscapes(std::FILE* stream) {
  DWORD mode = 0;
  return consoleOf(stream, &mode) != nullptr && (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

void writeText(std::FILE* stream, std::string_view utf8) {
  HANDLE console = consoleOf(stream, nullptr);
  if (console == nullptr) {
    std::fwrite(utf8.data(), 1, utf8.size(), stream);
    return;
  }
  // The console's code page is the OEM one by default; UTF-16 needs none.
  std::fflush(stream);
  const std::wstring wide = win32::widen(std::string(utf8));
  DWORD written = 0;
  WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

std::vector<std::string> commandLineWords(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> words;
  for (int i = 0; i < count; ++i) words.push_back(win32::narrow(wide[i], wcslen(wide[i])));
  LocalFree(wide);
  return words;
}

}  // namespace loopmon
