#include <unistd.h>

#include "platform/system/console.h"

namespace loopmon {

bool isConsole(std::FILE* stream) {
  return ::isatty(fileno(stream)) == 1;
}

bool consoleTakesEscapes(std::FILE* stream) {
  return isConsole(stream);
}

void writeText(std::FILE* stream, std::string_view utf8) {
  std::fwrite(utf8.data(), 1, utf8.size(), stream);
}

std::vector<std::string> commandLineWords(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace loopmon
