#include "desktop/file_folders.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "platform/store/profile_file.h"
#include "platform/store/whole_file.h"

namespace loopmon {
namespace {

constexpr char Section[] = "Folders";

std::filesystem::path pathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string utf8Of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

std::string kindOf(const std::string& name) {
  std::string extension = utf8Of(pathOf(name).extension());
  if (!extension.empty()) extension.erase(0, 1);
  std::ranges::transform(extension, extension.begin(),
                         [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

}  // namespace

FileFolders::FileFolders(std::string settingsPath, std::string documentsFolder)
    : settingsPath_(std::move(settingsPath)), documents_(std::move(documentsFolder)) {}

std::string FileFolders::folderFor(const std::string& extension) const {
  std::string folder;
  try {
    folder = ProfileFile(settingsPath_).readString(Section, extension, "");
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
    ProfileFile(settingsPath_).writeString(Section, kind, folder);
  } catch (const FileError&) {
    // As above: the save itself went through.
  }
}

}  // namespace loopmon
