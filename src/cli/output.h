#pragma once
// loopctl's printing: printf-style formats through the console writer, so
// the Russian texts are readable in a Windows console as well.

#include <cstdio>
#include <string>

namespace loopmon::cli {

[[gnu::format(gnu_printf, 2, 3)]] void printText(std::FILE* stream, const char* format, ...);

// `text` and a line break, flushed, so a reader of a pipe sees each line at once.
void printLine(std::FILE* stream, const std::string& text);

}  // namespace loopmon::cli
