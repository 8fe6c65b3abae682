#include "cli/progress.h"

#include "cli/output.h"
#include "cli/trace_output.h"
#include "platform/system/console.h"

namespace loopmon::cli {

ProgressLine::ProgressLine(std::FILE* stream)
    : stream_(stream),
      mode_(traceSharesStandardError()    ? Mode::Lines
            : consoleTakesEscapes(stream) ? Mode::Escapes
            : isConsole(stream)           ? Mode::Overwrite
                                          : Mode::Lines) {}

void ProgressLine::show(const std::string& text) {
  const auto now = std::chrono::steady_clock::now();
  if (mode_ == Mode::Lines) {
    if (shown_ && now - lastLine_ < std::chrono::seconds(1)) return;
    lastLine_ = now;
    shown_ = true;
    printLine(stream_, text);
    return;
  }
  // A console without escape sequences gets the old line blanked out by
  // spaces instead.
  std::string line = mode_ == Mode::Escapes ? "\r\033[K" + text : "\r" + text;
  if (mode_ == Mode::Overwrite && text.size() < width_) {
    line += std::string(width_ - text.size(), ' ') + "\r" + text;
  }
  width_ = text.size();
  shown_ = true;
  writeText(stream_, line);
  std::fflush(stream_);
}

void ProgressLine::end() {
  if (!shown_ || mode_ == Mode::Lines) return;
  // Appended piece by piece: GCC 12 warns falsely of a huge copy in "\r" + text.
  const std::string blank = std::string("\r").append(width_, ' ').append("\r");
  writeText(stream_, mode_ == Mode::Escapes ? "\r\033[K" : blank);
  std::fflush(stream_);
  shown_ = false;
}

}  // namespace loopmon::cli
