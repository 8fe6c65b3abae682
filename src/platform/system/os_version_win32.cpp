#include "platform/system/os_version.h"
#include "platform/system/windows_api_win32.h"

namespace loopmon {
namespace {

using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);

}  // namespace

// GetVersionEx reports what the program's manifest claims to support (6.2 at
// most without one); the kernel's own call tells the truth.
OsVersion queryOsVersion() {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  bool known = false;
  if (auto rtlGetVersion = win32::procAddress<RtlGetVersionFn>(L"ntdll.dll", "RtlGetVersion")) {
    known = rtlGetVersion(&info) == 0;
  }
  if (!known) known = GetVersionExW(&info) != 0;
  if (!known) return {};
  return {info.dwPlatformId == VER_PLATFORM_WIN32_NT, static_cast<unsigned>(info.dwMajorVersion)};
}

}  // namespace loopmon
