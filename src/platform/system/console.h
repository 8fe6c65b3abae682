#pragma once
// Text for the user on the standard streams. The program's texts are UTF-8;
// a Windows console shows them only when it is handed UTF-16, while a pipe or
// a file must receive the UTF-8 bytes unchanged.

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace loopmon {

// True when `stream` is an interactive terminal or console (not a pipe or a file).
bool isConsole(std::FILE* stream);

// True when `stream` is a terminal that acts on ANSI escape sequences (a
// Windows console only when virtual terminal processing is on).
bool consoleTakesEscapes(std::FILE* stream);

// Writes `utf8` to `stream` as it stands, or to a Windows console as UTF-16,
// after whatever was written through `stream` before.
void writeText(std::FILE* stream, std::string_view utf8);

// The program's command line as UTF-8 words, its name first. Windows hands
// `argv` over in the ANSI code page, which cannot hold every name or text
// typed; the words are taken from the UTF-16 command line there.
std::vector<std::string> commandLineWords(int argc, char** argv);

}  // namespace loopmon
