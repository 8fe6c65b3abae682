#pragma once
// A site's bus replayed from a capture of it (loopctl --trace-format pcapng,
// or the traffic window's save for Wireshark): every request is answered with
// the answer the capture holds for the same request, the latest one when it
// holds several, damaged ones as they came; a request the capture never saw
// answered goes unanswered.

#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "sim/bus_responder.h"

namespace loopmon::sim {

class ReplayTable {
 public:
  struct Answer {
    Bytes frame;
    uint32_t delayMicros = 0;  // the last byte after the request's end, as recorded
  };

  // Throws CaptureError when the content is not a capture of the bus or is cut short.
  static std::shared_ptr<const ReplayTable> fromCapture(const std::string& content);
  // The capture file at `path`; throws ReplayError naming the file and the reason.
  static std::shared_ptr<const ReplayTable> load(const std::string& path);

  const Answer* find(const Bytes& request) const;
  size_t size() const { return answers_.size(); }

 private:
  // Frames by length, then byte by byte: an order all the same, and one
  // GCC 12 does not take for a comparison of unbounded length, as it takes
  // vector's own.
  struct FrameOrder {
    bool operator()(const Bytes& a, const Bytes& b) const {
      if (a.size() != b.size()) return a.size() < b.size();
      for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) return a[i] < b[i];
      }
      return false;
    }
  };
  std::map<Bytes, Answer, FrameOrder> answers_;
};

class ReplayError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ReplayBus : public BusResponder {
 public:
  ReplayBus(std::shared_ptr<const ReplayTable> table, CrcTable crcTable)
      : table_(std::move(table)), crcTable_(crcTable) {}

  CrcTable crcTable() const override { return crcTable_; }
  std::optional<Bytes> respond(const Bytes& frame) override;
  uint32_t replyDelayMicros() const override { return delayMicros_; }

 private:
  std::shared_ptr<const ReplayTable> table_;
  CrcTable crcTable_;
  uint32_t delayMicros_ = 0;
};

}  // namespace loopmon::sim
