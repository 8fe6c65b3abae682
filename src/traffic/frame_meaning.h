#pragma once
// What a frame of this bus says, in a few words: the request's question
// ("presence?", "ADC of loop 3?") and the answer's news ("present",
// "loop 3: ADC 160"). loopsim's trace and the program's own trace both
// decode frames here.

#include <string>

#include "transport/frame.h"

namespace loopmon {

enum class FrameRole { Request, Answer };

// `frame` is plain (descrambled), its checksum included or not. Empty for a
// frame too short to say anything.
std::string frameMeaning(const Bytes& frame, FrameRole role);

}  // namespace loopmon
