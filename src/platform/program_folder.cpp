#include <filesystem>
#include <system_error>

#include "platform/program_folder.h"

namespace loopmon {
namespace {

// The program's paths are UTF-8 on every system; std::filesystem would read
// a plain string in the Windows ANSI code page.
std::filesystem::path pathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace

std::string besideProgramPath(const std::string& name) {
  const std::string program = programFolder();
  return besideProgramPath(name, {program, userConfigFolder(), folderWritable(program)});
}

std::string besideProgramPath(const std::string& name, const ProgramFileFolders& folders) {
  if (folders.programWritable) return folders.program + name;
  const std::string userPath = folders.user + name;
  std::error_code error;
  std::filesystem::create_directories(pathOf(folders.user), error);
  if (!std::filesystem::exists(pathOf(userPath), error)) {
    // A failed copy leaves the user's file missing, which reads as empty; the
    // first save then creates it.
    std::filesystem::copy_file(pathOf(folders.program + name), pathOf(userPath), error);
  }
  return userPath;
}

}  // namespace loopmon
