#pragma once
// The bus trace as a pcapng capture for Wireshark, and the capture read back
// (loopsim replays a site's bus from it).
//
// Every packet is one frame on the bus with a header of our own before it, on
// an interface of link type LINKTYPE_USER0 + 9: a user link type needs no
// registration and Wireshark hands it to whichever dissector claims it (ours,
// data/wireshark/loopmon.lua), where a packet of Ethernet or serial framing
// would need a second dissector to strip what the bus never carried. USER0,
// the one other private plugins take first, is left to them.
//
// The header (big-endian), CaptureHeaderBytes long:
//   0 version (1)        1 header length     2 direction: 0 request, 1 answer
//   3 the attempt's outcome (TraceOutcome)   4 flags: 1 accepted, 2 keyed, 4 answer awaited
//   5 key                6 attempt (0: an exchange of its own)   7 attempts
//   8 exchange (u32)     12 first byte, µs after the request's end (i32, -1 unknown)
//   16 last byte of the answer, or the wait in silence, µs after the request's end (i32, -1)
//   20 route (TraceRoute)  21..23 zero
// A request goes out as sent; an answer as received (damaged ones too), at the
// moment of its last byte; an attempt with nothing back has its request alone,
// its outcome in the header and in a packet comment.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "transport/bus_trace.h"

namespace loopmon {

inline constexpr uint16_t CaptureLinkType = 156;  // LINKTYPE_USER9
inline constexpr size_t CaptureHeaderBytes = 24;

// The whole capture is kept in memory and written out whole at the end: a
// capture cut short would not open.
class CaptureWriter {
 public:
  // `application`: who wrote it ("loopctl 0.1"), said in the file.
  explicit CaptureWriter(const std::string& application);

  void add(const TraceRecord& record);
  // Records the reader lost: the interface's drop count.
  void addDropped(uint64_t count) { dropped_ += count; }
  size_t packets() const { return packets_; }
  // The file's content: what was added, then the statistics of the interface.
  std::string content() const;

 private:
  void packet(int64_t wallMicros, bool answer, const TraceRecord& record, const uint8_t* frame,
              size_t size, const std::string& comment);

  std::string blocks_;
  size_t packets_ = 0;
  uint64_t dropped_ = 0;
  int64_t lastMicros_ = 0;
};

struct CapturedPacket {
  int64_t wallMicros = 0;
  bool answer = false;
  TraceOutcome outcome = TraceOutcome::NotSent;
  uint32_t exchange = 0;
  uint8_t attempt = 0;
  int32_t lastMicros = -1;  // the answer's last byte after the request's end
  Bytes frame;
};

// A file that is not a capture of the bus, or one cut short; what() says why.
class CaptureError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The bus packets of a pcapng file, in file order. Throws CaptureError.
std::vector<CapturedPacket> readCapture(std::string_view content);

}  // namespace loopmon
