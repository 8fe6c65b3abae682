#pragma once
#include <string>

namespace loopmon {

// The folder holding the running executable, with a trailing separator.
std::string programFolder();

// The user's own configuration folder for loopmon, with a trailing separator:
// ${XDG_CONFIG_HOME:-$HOME/.config}/loopmon/ on POSIX, %APPDATA%\loopmon\ on
// Windows. Not created here.
std::string userConfigFolder();

// The user's documents folder, where a file dialog starts the first time:
// %USERPROFILE%\Documents (the known folder) on Windows, ~/Documents (or the
// home folder without one) on POSIX. Empty when there is none.
std::string userDocumentsFolder();

// True when a file can be created in `folder`: tried, since permission bits
// say nothing of a read-only mount or of Windows' access lists.
bool folderWritable(const std::string& folder);

// Where the folders stand for a file kept beside the program.
struct ProgramFileFolders {
  std::string program;  // the executable's folder
  std::string user;     // the user's configuration folder
  bool programWritable = false;
};

// Path of a file the program keeps beside itself ("pcom.ini", "ohmgauge.kft"),
// for reading and writing alike. Beside the executable while that folder can
// be written, so a file copied there is the one used. Otherwise (an installed
// program) in the user's folder, created on demand; a file found beside the
// program is copied there first, so its sections are kept when the user saves
// (when that copy cannot be made, the file beside the program is the one used).
// Throws FileError when the file beside the program is there but cannot be read.
std::string besideProgramPath(const std::string& name);
// The same decision for the folders given.
std::string besideProgramPath(const std::string& name, const ProgramFileFolders& folders);

// Folder for per-user runtime files (markers, the simulator socket), with a
// trailing separator: $XDG_RUNTIME_DIR/loopmon/ on POSIX, or /tmp/loopmon-<uid>/
// without that variable; created on demand, private to the user. When another
// user has taken /tmp/loopmon-<uid>, a fresh private folder beside it, whose
// name ${XDG_CACHE_HOME:-~/.cache}/loopmon/runtime-folder keeps for the
// user's other processes. Empty when no such folder can be had.
std::string runtimeFolder();

}  // namespace loopmon
