// Profile files through the system's own profile functions, which settle the
// format: the file stays in the system's text encoding with CR LF line ends,
// as every other program on the machine writes it. The functions rewrite a
// file in place, key by key; to keep the promise of a whole replacement, the
// keys are written into a scratch copy in the user's own temporary folder,
// whose content then replaces the file whole (replaceWholeFile).

#include <optional>
#include <vector>

#include "platform/store/profile_file.h"
#include "platform/store/whole_file.h"
#include "platform/system/windows_api_win32.h"

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

// The profile functions take a file they cannot open for empty: a file that is
// there but cannot be read is told (FileError) before they are asked.
std::wstring readablePath(const std::string& path) {
  const std::wstring full = fullPath(path);
  readWholeFile(win32::narrow(full));
  return full;
}

// An empty file of this process's own in the user's temporary folder, removed
// again with the object.
class ScratchFile {
 public:
  ScratchFile() {
    wchar_t folder[MAX_PATH + 1] = {};
    wchar_t name[MAX_PATH + 1] = {};
    if (GetTempPathW(MAX_PATH + 1, folder) != 0 && GetTempFileNameW(folder, L"lpm", 0, name) != 0) {
      path_ = name;
    }
  }
  ~ScratchFile() {
    if (!path_.empty()) DeleteFileW(path_.c_str());
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

}  // namespace

std::string ProfileFile::readString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue) const {
  return win32::narrow(profileString(win32::widen(section), win32::widen(key).c_str(),
                                     win32::widen(defaultValue), readablePath(path_)));
}

std::vector<std::string> ProfileFile::keys(const std::string& section) const {
  const std::wstring list = profileString(win32::widen(section), nullptr, L"", readablePath(path_));
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
  const std::string target = win32::narrow(fullPath(path_));
  const std::optional<std::string> before = readWholeFile(target);
  const ScratchFile scratch;
  if (scratch.path().empty()) return false;
  try {
    if (before) replaceWholeFile(win32::narrow(scratch.path()), *before);
    const std::wstring sectionName = win32::widen(section);
    for (const auto& [key, value] : entries) {
      if (!WritePrivateProfileStringW(sectionName.c_str(), win32::widen(key).c_str(),
                                      win32::widen(value).c_str(), scratch.path().c_str())) {
        return false;
      }
    }
    const std::optional<std::string> after = readWholeFile(win32::narrow(scratch.path()));
    replaceWholeFile(target, after.value_or(std::string()));
  } catch (const FileError&) {
    // Refused as the profile functions refuse: the caller says so in its own words.
    return false;
  }
  return true;
}

}  // namespace loopmon
