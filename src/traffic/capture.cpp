#include "traffic/capture.h"

#include <algorithm>
#include <cstring>

#include "traffic/trace_text.h"

namespace loopmon {

namespace {

// Block types and option codes of pcapng.
constexpr uint32_t SectionHeaderBlock = 0x0A0D0D0A;
constexpr uint32_t InterfaceBlock = 1;
constexpr uint32_t InterfaceStatisticsBlock = 5;
constexpr uint32_t EnhancedPacketBlock = 6;
constexpr uint32_t ByteOrderMagic = 0x1A2B3C4D;
constexpr uint16_t OptionEnd = 0;
constexpr uint16_t OptionComment = 1;
constexpr uint16_t SectionUserApplication = 4;
constexpr uint16_t InterfaceName = 2;
constexpr uint16_t InterfaceDescription = 3;
constexpr uint16_t InterfaceTimeResolution = 9;
constexpr uint16_t PacketFlags = 2;
constexpr uint32_t FlagInbound = 1;
constexpr uint32_t FlagOutbound = 2;
constexpr uint16_t StatisticsDropped = 5;
constexpr uint8_t MicrosecondResolution = 6;

constexpr uint8_t HeaderVersion = 1;
constexpr uint8_t FlagAccepted = 1;
constexpr uint8_t FlagKeyed = 2;
constexpr uint8_t FlagAwaited = 4;
// The largest block the reader takes: a frame and its header with room for
// comments; anything larger is no block of this bus.
constexpr uint32_t MaxBlockBytes = 64 * 1024;

void put16(std::string& out, uint16_t value) {
  out.append(reinterpret_cast<const char*>(&value), sizeof value);
}
void put32(std::string& out, uint32_t value) {
  out.append(reinterpret_cast<const char*>(&value), sizeof value);
}
void put64(std::string& out, uint64_t value) {
  out.append(reinterpret_cast<const char*>(&value), sizeof value);
}
void putBig32(std::string& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(value >> shift);
}
void pad(std::string& out) {
  out.append((4 - out.size() % 4) % 4, '\0');
}

void option(std::string& out, uint16_t code, std::string_view value) {
  put16(out, code);
  put16(out, static_cast<uint16_t>(value.size()));
  out += value;
  pad(out);
}

// A block in the host's byte order (the section header says which): its
// type, its body, the options, and its length at both ends.
std::string block(uint32_t type, const std::string& body, const std::string& options) {
  std::string out;
  const auto length =
      static_cast<uint32_t>(12 + body.size() + (options.empty() ? 0 : options.size() + 4));
  put32(out, type);
  put32(out, length);
  out += body;
  if (!options.empty()) {
    out += options;
    put16(out, OptionEnd);
    put16(out, 0);
  }
  put32(out, length);
  return out;
}

// What a request alone says where no answer follows it.
std::string aloneComment(const TraceRecord& record) {
  const TraceLine line = describeRecord(record);
  return line.timing.empty() ? line.outcome : line.outcome + " " + line.timing;
}

uint32_t swap32(uint32_t value) {
  return value >> 24 | (value >> 8 & 0xFF00) | (value << 8 & 0xFF0000) | value << 24;
}
uint16_t swap16(uint16_t value) {
  return static_cast<uint16_t>(value >> 8 | value << 8);
}

int32_t afterRequest(const TraceRecord& record, int64_t moment) {
  if (moment < 0 || record.requestEndMicros < 0) return -1;
  return static_cast<int32_t>(moment - record.requestEndMicros);
}

class Reader {
 public:
  explicit Reader(std::string_view content) : content_(content) {}

  std::vector<CapturedPacket> packets() {
    if (content_.size() < 12 || raw32(0) != SectionHeaderBlock) {
      throw CaptureError("not a pcapng capture");
    }
    std::vector<CapturedPacket> packets;
    for (size_t at = 0; at < content_.size();) {
      if (content_.size() - at < 12) throw truncated(at);
      const uint32_t type = raw32(at);
      if (type == SectionHeaderBlock) {
        const uint32_t magic = raw32(at + 8);
        if (magic != ByteOrderMagic && magic != swap32(ByteOrderMagic)) {
          throw CaptureError("not a pcapng capture");
        }
        swapped_ = magic != ByteOrderMagic;
        ourInterfaces_.clear();
        interfaces_ = 0;
      }
      const uint32_t length = get32(at + 4);
      if (length < 12 || length % 4 != 0 || length > MaxBlockBytes) {
        throw CaptureError("a damaged block at byte " + std::to_string(at));
      }
      if (length > content_.size() - at) throw truncated(at);
      if (get32(at + length - 4) != length) {
        throw CaptureError("a damaged block at byte " + std::to_string(at));
      }
      if (type == InterfaceBlock) {
        ourInterfaces_.push_back(length >= 20 && get16(at + 8) == CaptureLinkType);
        ++interfaces_;
      } else if (type == EnhancedPacketBlock) {
        if (length < 32) throw CaptureError("a damaged block at byte " + std::to_string(at));
        const uint32_t interface = get32(at + 8);
        if (interface >= interfaces_) {
          throw CaptureError("a packet of no interface at byte " + std::to_string(at));
        }
        if (ourInterfaces_[interface]) packets.push_back(packet(at, length));
      }
      at += length;
    }
    if (std::ranges::find(ourInterfaces_, true) == ourInterfaces_.end()) {
      throw CaptureError("not a capture of the bus (no interface of link type " +
                         std::to_string(CaptureLinkType) + ")");
    }
    return packets;
  }

 private:
  CaptureError truncated(size_t at) const {
    return CaptureError("truncated: the block at byte " + std::to_string(at) + " is cut short");
  }

  uint32_t raw32(size_t at) const {
    uint32_t value = 0;
    std::memcpy(&value, content_.data() + at, sizeof value);
    return value;
  }
  uint32_t get32(size_t at) const { return swapped_ ? swap32(raw32(at)) : raw32(at); }
  uint16_t get16(size_t at) const {
    uint16_t value = 0;
    std::memcpy(&value, content_.data() + at, sizeof value);
    return swapped_ ? swap16(value) : value;
  }
  uint32_t big32(size_t at) const {
    const auto* bytes = reinterpret_cast<const uint8_t*>(content_.data() + at);
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
  }

  CapturedPacket packet(size_t at, uint32_t length) {
    const uint32_t captured = get32(at + 20);
    const std::string where = " at byte " + std::to_string(at);
    if (captured > length - 32) throw CaptureError("a damaged packet" + where);
    if (captured < CaptureHeaderBytes)
      throw CaptureError("a packet too short for its header" + where);
    const size_t data = at + 28;
    const auto* bytes = reinterpret_cast<const uint8_t*>(content_.data() + data);
    if (bytes[0] != HeaderVersion || bytes[1] != CaptureHeaderBytes) {
      throw CaptureError("a packet header of another version" + where);
    }
    CapturedPacket p;
    p.wallMicros = static_cast<int64_t>(uint64_t{get32(at + 12)} << 32 | get32(at + 16));
    p.answer = bytes[2] != 0;
    p.outcome = static_cast<TraceOutcome>(bytes[3]);
    p.attempt = bytes[6];
    p.exchange = big32(data + 8);
    p.lastMicros = static_cast<int32_t>(big32(data + 16));
    p.frame.assign(bytes + CaptureHeaderBytes, bytes + captured);
    return p;
  }

  std::string_view content_;
  bool swapped_ = false;
  std::vector<bool> ourInterfaces_;
  uint32_t interfaces_ = 0;
};

}  // namespace

CaptureWriter::CaptureWriter(const std::string& application) {
  std::string section;
  put32(section, ByteOrderMagic);
  put16(section, 1);
  put16(section, 0);
  put64(section, ~uint64_t{0});  // the section's length is not told
  std::string sectionOptions;
  option(sectionOptions, SectionUserApplication, application);
  blocks_ += block(SectionHeaderBlock, section, sectionOptions);

  std::string interface;
  put16(interface, CaptureLinkType);
  put16(interface, 0);
  put32(interface, 0);  // no snapshot limit
  std::string interfaceOptions;
  option(interfaceOptions, InterfaceName, "RS-485");
  option(interfaceOptions, InterfaceDescription, "the alarm devices' bus, 9600 8N1");
  option(interfaceOptions, InterfaceTimeResolution,
         std::string_view(reinterpret_cast<const char*>(&MicrosecondResolution), 1));
  blocks_ += block(InterfaceBlock, interface, interfaceOptions);
}

void CaptureWriter::packet(int64_t wallMicros, bool answer, const TraceRecord& r,
                           const uint8_t* frame, size_t size, const std::string& comment) {
  std::string data;
  data += static_cast<char>(HeaderVersion);
  data += static_cast<char>(CaptureHeaderBytes);
  data += static_cast<char>(answer ? 1 : 0);
  data += static_cast<char>(r.outcome);
  data += static_cast<char>((r.accepted ? FlagAccepted : 0) | (r.keyed ? FlagKeyed : 0) |
                            (r.answerAwaited ? FlagAwaited : 0));
  data += static_cast<char>(r.key);
  data += static_cast<char>(r.attempt);
  data += static_cast<char>(r.attempts);
  putBig32(data, static_cast<uint32_t>(r.exchange));
  putBig32(data, static_cast<uint32_t>(afterRequest(r, r.firstByteMicros)));
  const int64_t last = r.answerSize > 0 ? r.lastByteMicros : r.readEndMicros;
  putBig32(data, static_cast<uint32_t>(afterRequest(r, last)));
  data += static_cast<char>(r.route);
  data.append(3, '\0');
  data.append(reinterpret_cast<const char*>(frame), size);

  // Packets stay in the order of time even where a clock was set back meanwhile.
  lastMicros_ = std::max(lastMicros_, wallMicros);
  std::string body;
  put32(body, 0);
  put32(body, static_cast<uint32_t>(static_cast<uint64_t>(lastMicros_) >> 32));
  put32(body, static_cast<uint32_t>(lastMicros_));
  put32(body, static_cast<uint32_t>(data.size()));
  put32(body, static_cast<uint32_t>(data.size()));
  body += data;
  pad(body);
  std::string options;
  if (!comment.empty()) option(options, OptionComment, comment);
  std::string flags;
  put32(flags, answer ? FlagInbound : FlagOutbound);
  option(options, PacketFlags, flags);
  blocks_ += block(EnhancedPacketBlock, body, options);
  ++packets_;
}

void CaptureWriter::add(const TraceRecord& r) {
  const bool answered = r.answerSize > 0;
  packet(r.wallMicros, false, r, r.request.data(), r.requestSize,
         answered ? std::string() : aloneComment(r));
  if (!answered) return;
  // The moment the answer was whole, on the wall clock: the steady clock's
  // distance from the moment the request left.
  const int64_t last = r.lastByteMicros >= 0 ? r.lastByteMicros : r.readEndMicros;
  const int64_t after = r.sentMicros >= 0 && last >= r.sentMicros ? last - r.sentMicros : 0;
  packet(r.wallMicros + after, true, r, r.answer.data(), r.answerSize, {});
}

std::string CaptureWriter::content() const {
  std::string body;
  put32(body, 0);
  put32(body, static_cast<uint32_t>(static_cast<uint64_t>(lastMicros_) >> 32));
  put32(body, static_cast<uint32_t>(lastMicros_));
  std::string options;
  std::string dropped;
  put64(dropped, dropped_);
  option(options, StatisticsDropped, dropped);
  return blocks_ + block(InterfaceStatisticsBlock, body, options);
}

std::vector<CapturedPacket> readCapture(std::string_view content) {
  return Reader(content).packets();
}

}  // namespace loopmon
