#include "sim/replay.h"

#include "platform/store/whole_file.h"
#include "sim/device_model.h"
#include "traffic/capture.h"

namespace loopmon::sim {

namespace {

// A device's answer delay where the capture could not tell it (a Windows
// port, the simulator link): as quick as a device of the demo bus.
constexpr uint32_t UnknownDelayMicros = 2000;

}  // namespace

std::shared_ptr<const ReplayTable> ReplayTable::fromCapture(const std::string& content) {
  auto table = std::make_shared<ReplayTable>();
  const CapturedPacket* request = nullptr;
  const std::vector<CapturedPacket> packets = readCapture(content);
  for (const CapturedPacket& packet : packets) {
    if (!packet.answer) {
      request = &packet;
      continue;
    }
    // The converter's echo of the request is no device's answer.
    if (!request || packet.outcome == TraceOutcome::Echo || packet.frame.empty() ||
        packet.exchange != request->exchange || packet.attempt != request->attempt) {
      continue;
    }
    const uint32_t delay =
        packet.lastMicros >= 0 ? static_cast<uint32_t>(packet.lastMicros) : UnknownDelayMicros;
    table->answers_[request->frame] = {packet.frame, delay};
  }
  return table;
}

std::shared_ptr<const ReplayTable> ReplayTable::load(const std::string& path) {
  std::optional<std::string> content;
  try {
    content = readWholeFile(path);
  } catch (const FileError& error) {
    throw ReplayError(error.what());
  }
  if (!content) throw ReplayError(path + ": no such file");
  try {
    return fromCapture(*content);
  } catch (const CaptureError& error) {
    throw ReplayError(path + ": " + error.what());
  }
}

const ReplayTable::Answer* ReplayTable::find(const Bytes& request) const {
  const auto found = answers_.find(request);
  return found == answers_.end() ? nullptr : &found->second;
}

std::optional<Bytes> ReplayBus::respond(const Bytes& frame) {
  const ReplayTable::Answer* answer = table_->find(frame);
  if (!answer) return std::nullopt;
  delayMicros_ = answer->delayMicros;
  return answer->frame;
}

std::unique_ptr<BusResponder> makeResponder(const Scenario& scenario,
                                            const std::shared_ptr<const ReplayTable>& replay) {
  if (replay) return std::make_unique<ReplayBus>(replay, scenario.crcTable);
  return std::make_unique<SimulatedBus>(scenario);
}

}  // namespace loopmon::sim
