#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "platform/store/program_folder.h"
#include "platform/store/whole_file.h"
#include "platform/system/utf8.h"

namespace loopmon {

std::string besideProgramPath(const std::string& name) {
  const std::string program = programFolder();
  return besideProgramPath(name, {program, userConfigFolder(), folderWritable(program)});
}

std::string besideProgramPath(const std::string& name, const ProgramFileFolders& folders) {
  if (folders.programWritable) return folders.program + name;
  const std::string userPath = folders.user + name;
  std::error_code error;
  std::filesystem::create_directories(pathOf(folders.user), error);
  if (std::filesystem::exists(pathOf(userPath), error)) return userPath;
  // A file beside the program that cannot be read is told (FileError), not
  // taken for none.
  const std::optional<std::string> beside = readWholeFile(folders.program + name);
  if (!beside) return userPath;
  try {
    replaceWholeFile(userPath, *beside);
  } catch (const FileError&) {
    // Without the copy the file beside the program is the one read; a save
    // to it then fails and says so.
    return folders.program + name;
  }
  return userPath;
}

}  // namespace loopmon
