#include "cli/output.h"

#include <cstdarg>
#include <vector>

#include "platform/system/console.h"

namespace loopmon::cli {

void printText(std::FILE* stream, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (length > 0) {
    std::vector<char> text(static_cast<size_t>(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    writeText(stream, std::string_view(text.data(), static_cast<size_t>(length)));
  }
  va_end(again);
}

void printLine(std::FILE* stream, const std::string& text) {
  writeText(stream, text + "\n");
  std::fflush(stream);
}

}  // namespace loopmon::cli
