#pragma once
// What a frame of this bus says, in a few words: the request's question
// ("presence?", "ADC of loop 3?") and the answer's news ("present",
// "loop 3: ADC 160"). loopsim's trace and the program's own trace both
// decode frames here.

#include <string>

#include "transport/frame.h"

namespace loopmon {

enum class FrameRole { Request, Answer };

// Who reads a trace's words: scripts and capture tools read English with a
// decimal point (loopctl --trace, its files, loopsim), the user reads the
// traffic window and its saved file in the program's Russian, with the
// locale's separator.
struct TraceWording {
  bool russian = false;
  char separator = '.';
};
inline constexpr TraceWording ScriptWording{};

// The English or the Russian text, as `wording` wants.
inline const char* say(const TraceWording& wording, const char* english, const char* russian) {
  return wording.russian ? russian : english;
}

// `frame` is plain (descrambled), its checksum included or not. Empty for a
// frame too short to say anything.
std::string frameMeaning(const Bytes& frame, FrameRole role,
                         const TraceWording& wording = ScriptWording);

}  // namespace loopmon
