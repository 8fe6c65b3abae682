#pragma once
// Progress of a long command on standard error. A terminal gets one line that
// is rewritten; a log (a pipe or a file), or a terminal that trace lines go to
// as well, gets a line at most once a second, so a long run still shows that
// it moves without flooding the log.

#include <chrono>
#include <cstdio>
#include <string>

namespace loopmon::cli {

class ProgressLine {
 public:
  explicit ProgressLine(std::FILE* stream);

  void show(const std::string& text);
  // Clears a rewritten line so that the next text starts on a clean line.
  void end();

 private:
  enum class Mode { Escapes, Overwrite, Lines };

  std::FILE* stream_;
  Mode mode_;
  bool shown_ = false;
  size_t width_ = 0;
  std::chrono::steady_clock::time_point lastLine_;
};

}  // namespace loopmon::cli
