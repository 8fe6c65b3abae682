// Profile files through the system's own profile functions. Unlike the POSIX
// reader and writer, a write here is not atomic: the system rewrites the file
// in place, as every other program using these functions on the machine does,
// and the file stays in the system's text encoding rather than UTF-8.

#include <vector>

#include "platform/profile_file.h"
#include "platform/text_win32.h"

namespace loopmon {
namespace {

// The profile functions take a name without a folder as a file in the Windows
// folder; a relative path is meant relative to the working folder here.
std::wstring fullPath(const std::string& path) {
  const std::wstring wide = win32::widen(path);
  const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return wide;
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  full.resize(length);
  return full;
}

// GetPrivateProfileString with a buffer that grows until the text fits. With a
// null key the result is a list of names, each ending in a null.
std::wstring profileString(const std::wstring& section, const wchar_t* key,
                           const std::wstring& defaultValue, const std::wstring& file) {
  const DWORD listTerminators = key ? 1 : 2;
  std::vector<wchar_t> buffer(256);
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = GetPrivateProfileStringW(section.c_str(), key, defaultValue.c_str(),
                                                  buffer.data(), size, file.c_str());
    if (length + listTerminators < size) return std::wstring(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

ProfileFile::ProfileFile(std::string path) : path_(std::move(path)) {}

std::string ProfileFile::readString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue) const {
  return win32::narrow(profileString(win32::widen(section), win32::widen(key).c_str(),
                                     win32::widen(defaultValue), fullPath(path_)));
}

int ProfileFile::readInt(const std::string& section, const std::string& key,
                         int defaultValue) const {
  return static_cast<int>(GetPrivateProfileIntW(win32::widen(section).c_str(),
                                                win32::widen(key).c_str(), defaultValue,
                                                fullPath(path_).c_str()));
}

std::vector<std::string> ProfileFile::keys(const std::string& section) const {
  const std::wstring list = profileString(win32::widen(section), nullptr, L"", fullPath(path_));
  std::vector<std::string> names;
  for (size_t start = 0; start < list.size();) {
    const size_t end = list.find(L'\0', start);
    const size_t stop = end == std::wstring::npos ? list.size() : end;
    names.push_back(win32::narrow(list.data() + start, stop - start));
    start = stop + 1;
  }
  return names;
}

bool ProfileFile::writeString(const std::string& section, const std::string& key,
                              const std::string& value) {
  return WritePrivateProfileStringW(win32::widen(section).c_str(), win32::widen(key).c_str(),
                                    win32::widen(value).c_str(), fullPath(path_).c_str()) != 0;
}

}  // namespace loopmon
