#pragma once
// What loopsim's front ends serve: something that answers request frames.
// The scenario's simulated devices are one; a recorded bus replayed is another.

#include <cstdint>
#include <memory>
#include <optional>

#include "transport/frame.h"

namespace loopmon::sim {

class BusResponder {
 public:
  virtual ~BusResponder() = default;
  virtual CrcTable crcTable() const = 0;
  // A request frame as it came off the line, checksum included. Returns the
  // answer frame with its checksum, or nothing when no device answers.
  virtual std::optional<Bytes> respond(const Bytes& frame) = 0;
  // When, after the request's end, the line delivers the last byte of the
  // answer `respond` just gave.
  virtual uint32_t replyDelayMicros() const = 0;
};

struct Scenario;
class ReplayTable;

// The bus the front ends serve: the replay when there is one, the scenario's
// devices otherwise.
std::unique_ptr<BusResponder> makeResponder(const Scenario& scenario,
                                            const std::shared_ptr<const ReplayTable>& replay);

}  // namespace loopmon::sim
