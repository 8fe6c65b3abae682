#pragma once
// The folder each kind of file was last saved to or opened from, so that the
// next file dialog for such a file starts there instead of wherever the
// program was started (or the program's own folder, which an installed
// program cannot write). The kind is the file's extension. Kept in the port
// settings file, section [Folders], for the next run; the user's documents
// folder until a file of that kind has been chosen.

#include <string>

namespace loopmon {

class FileFolders {
 public:
  FileFolders(std::string settingsPath, std::string documentsFolder);

  // `name` ("Обмен по шине.txt") in the folder last used for its kind.
  std::string suggest(const std::string& name) const;
  // The folder last used for files ending in `extension` ("json").
  std::string folderFor(const std::string& extension) const;
  // Takes note of the folder of a chosen file. A settings file that cannot
  // be written costs only the memory, never the save itself.
  void remember(const std::string& chosenPath);

 private:
  std::string settingsPath_;
  std::string documents_;
};

}  // namespace loopmon
