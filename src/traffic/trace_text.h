#pragma once
// A trace record in words: the same on the command line, in the traffic
// window's list and in the file that window saves.

#include <optional>
#include <string>

#include "traffic/frame_meaning.h"
#include "transport/bus_trace.h"

namespace loopmon {

struct TraceLine {
  std::string time;     // when the request left, local: "14:03:07.125431"
  uint8_t address = 0;  // the device asked
  std::string attempt;  // "1/6"; empty for an exchange of its own or one awaiting nothing
  std::string request;  // the frame as sent, in hex
  std::string outcome;  // "answer", "silence", "checksum wrong", ...
  // After the request's end: the answer's first and last byte ("2.1..7.3 ms",
  // or "7.3 ms" where the port cannot tell the first), or the wait in silence.
  std::string timing;
  std::string answer;   // the bytes received, in hex
  std::string meaning;  // "presence? => present"
};

TraceLine describeRecord(const TraceRecord& record, const TraceWording& wording = ScriptWording);

// A moment as the trace lines show it, local: "14:03:07.125431".
std::string clockTime(int64_t wallMicros);

// One line: "14:03:07.125431 addr 5 try 1/6 05 06 00 01 00 00 DC | answer
// 2.1..7.3 ms 05 05 02 00 00 1C | presence? => present"; in the window's
// words "14:03:07.125431 адрес 5 попытка 1/6 ... | ответ 2,1..7,3 мс ...".
std::string traceText(const TraceRecord& record, const TraceWording& wording = ScriptWording);

// The outcome in one word for machines: "answer", "silence", "checksum", ...
const char* outcomeKey(TraceOutcome outcome);

// Milliseconds from the end of the request to `moment`; none for -1.
std::optional<double> msAfterRequest(const TraceRecord& record, int64_t moment);

// What a reader says of records it lost.
std::string droppedText(uint64_t count, const TraceWording& wording = ScriptWording);

}  // namespace loopmon
