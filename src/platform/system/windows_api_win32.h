#pragma once
// What every Win32 source of the platform layer shares: the Windows headers
// without their min/max macros, and the conversion between the UTF-8 text of
// the rest of the program and the UTF-16 of the wide Win32 calls.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

namespace loopmon::win32 {

std::wstring widen(const std::string& utf8);
std::string narrow(const wchar_t* utf16, size_t count);
inline std::string narrow(const std::wstring& utf16) {
  return narrow(utf16.data(), utf16.size());
}

// An entry point looked up at run time in a module the process has loaded;
// null when the system lacks it.
template <typename Function>
Function procAddress(const wchar_t* module, const char* name) {
  HMODULE handle = GetModuleHandleW(module);
  if (!handle) return nullptr;
  // Through void(*)() because FARPROC and Function differ in signature.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(handle, name)));
}

// The system's text for an error code or HRESULT, without the trailing line break.
std::string systemMessage(DWORD code);

}  // namespace loopmon::win32
