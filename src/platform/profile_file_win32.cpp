// Profile files through the system's own profile functions, which settle the
// format: the file stays in the system's text encoding with CR LF line ends,
// as every other program on the machine writes it. The functions rewrite a
// file in place, key by key; to keep the promise of a whole replacement, the
// keys are written into a copy beside the file, which then takes the file's
// place in one rename.

#include <atomic>
#include <vector>

#include "platform/profile_file.h"
#include "platform/profile_rules.h"
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

std::wstring copyBeside(const std::wstring& target) {
  static std::atomic<unsigned> counter{0};
  return target + L".tmp" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(counter++);
}

}  // namespace

std::string ProfileFile::readString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue) const {
  return win32::narrow(profileString(win32::widen(section), win32::widen(key).c_str(),
                                     win32::widen(defaultValue), fullPath(path_)));
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

bool ProfileFile::writeStrings(const std::string& section,
                               const std::vector<std::pair<std::string, std::string>>& entries) {
  if (!acceptableProfileEntries(section, entries)) return false;
  const std::wstring target = fullPath(path_);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (exists && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) return false;

  const std::wstring copy = copyBeside(target);
  bool written = !exists || CopyFileW(target.c_str(), copy.c_str(), TRUE);
  const std::wstring sectionName = win32::widen(section);
  for (const auto& [key, value] : entries) {
    written = written && WritePrivateProfileStringW(sectionName.c_str(), win32::widen(key).c_str(),
                                                    win32::widen(value).c_str(), copy.c_str());
  }
  written = written && MoveFileExW(copy.c_str(), target.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!written) DeleteFileW(copy.c_str());
  return written;
}

}  // namespace loopmon
