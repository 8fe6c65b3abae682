#include "desktop/file_folders.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>

#include "platform/store/profile_file.h"
#include "platform/store/whole_file.h"
#include "platform/system/utf8.h"

namespace loopmon {
namespace {

constexpr char Section[] = "Folders";

std::string kindOf(const std::string& name) {
  std::string extension = utf8Of(pathOf(name).extension());
  if (!extension.empty()) extension.erase(0, 1);
  std::ranges::transform(extension, extension.begin(),
                         [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

// Folder names travel through the system's profile functions, which keep the
// system's code page on Windows: every byte past ASCII (and '%') is written
// as %XX, so that any folder name comes back as it went.
std::string escaped(const std::string& text) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F || c == '%') {
      out += '%';
      out += Hex[byte >> 4];
      out += Hex[byte & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

std::string unescaped(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned byte = 0;
    const char* digits = text.data() + i + 1;
    if (text[i] == '%' && i + 2 < text.size() &&
        std::from_chars(digits, digits + 2, byte, 16).ptr == digits + 2) {
      out += static_cast<char>(byte);
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

FileFolders::FileFolders(std::string settingsPath, std::string documentsFolder)
    : settingsPath_(std::move(settingsPath)), documents_(std::move(documentsFolder)) {}

std::string FileFolders::folderFor(const std::string& extension) const {
  std::string folder;
  try {
    folder = unescaped(ProfileFile(settingsPath_).readString(Section, extension, ""));
  } catch (const FileError&) {
    // An unreadable settings file only loses the remembered folder.
  }
  std::error_code error;
  if (!folder.empty() && std::filesystem::is_directory(pathOf(folder), error)) return folder;
  return documents_;
}

std::string FileFolders::suggest(const std::string& name) const {
  const std::string folder = folderFor(kindOf(name));
  if (folder.empty()) return name;
  return utf8Of(pathOf(folder) / pathOf(name));
}

void FileFolders::remember(const std::string& chosenPath) {
  const std::string kind = kindOf(chosenPath);
  const std::string folder = utf8Of(pathOf(chosenPath).parent_path());
  if (kind.empty() || folder.empty() || folder == folderFor(kind)) return;
  try {
    ProfileFile(settingsPath_).writeString(Section, kind, escaped(folder));
  } catch (const FileError&) {
    // As above: the save itself went through.
  }
}

}  // namespace loopmon
