#include "cli/read_summary.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/number_text.h"
#include "common/translation.h"
#include "loops/loop_decode.h"
#include "loops/loop_layout.h"
#include "platform/system/console.h"
#include "record/json.h"
#include "transport/frame.h"

namespace loopmon::cli {

namespace {

std::string kiloOhmsText(const std::optional<Extreme>& extreme) {
  return extreme ? FormatFixed(extreme->kiloOhms, 1) : "-";
}

Json jsonNumber(const std::optional<Extreme>& extreme) {
  return extreme ? Json(extreme->kiloOhms) : Json();
}

Json jsonTime(const std::optional<Extreme>& extreme) {
  return extreme ? Json(IsoTime(extreme->time)) : Json();
}

std::string inOut(const LoopSummary& summary, LoopCondition condition) {
  return std::to_string(summary.Into(condition)) + "/" + std::to_string(summary.OutOf(condition));
}

Json inOutJson(const LoopSummary& summary, LoopCondition condition) {
  return {{"in", summary.Into(condition)}, {"out", summary.OutOf(condition)}};
}

}  // namespace

SubscribedDevices SubscribedDevicesOf(const TRSSession& session,
                                      const std::vector<uint8_t>& addresses, bool coefficients) {
  SubscribedDevices devices;
  const CoefficientsStore store;
  for (uint8_t addr : addresses) {
    const uint16_t type = session.GetDeviceType(addr);
    devices[addr].type = type;
    if (coefficients) {
      devices[addr].coefficients =
          store.Lookup(static_cast<uint8_t>(type), session.DeviceVersion(addr));
    }
  }
  return devices;
}

std::optional<LoopReading> SubscribedReading(const SubscribedDevices& devices, uint8_t addr,
                                             uint8_t command, uint8_t loop, const Bytes& answer) {
  if (answer.empty()) return std::nullopt;
  const auto device = devices.find(addr);
  const SubscribedDevice known = device == devices.end() ? SubscribedDevice{} : device->second;
  // A line device's reading means what its kind says; the subscription does
  // not know that kind, so the reading is kept as it is, without a resistance.
  const LoopRequestOf request{
      addr,
      command == BusCommand::LineDevice ? LineControllerType : static_cast<uint8_t>(known.type),
      loop, ReadingKind::Adc, known.coefficients};
  LoopReading reading =
      DecodeLoopReading(request, {true, answer, false, {}}, std::chrono::system_clock::now());
  if (!reading.answered()) return std::nullopt;
  return reading;
}

void FeedSubscriptions(TRSSession& session, LoopHistory& history, SubscribedDevices devices) {
  session.OnNewADC = [shown = session.OnNewADC, &history, devices = std::move(devices)](
                         const Bytes& answer, uint8_t command, uint8_t loop, int32_t typeEvent,
                         const void* data, int32_t dataLength) {
    if (shown) shown(answer, command, loop, typeEvent, data, dataLength);
    if (!data) return;
    const uint8_t addr = *static_cast<const uint8_t*>(data);
    if (!devices.contains(addr)) return;
    if (auto reading = SubscribedReading(devices, addr, command, loop, answer)) {
      history.Record(*reading);
    }
  };
}

void PrintSummary(std::FILE* out, const LoopHistory& history, bool json) {
  if (!json) {
    writeText(out, tr("addr\tloop\treadings\tmin kOhm\tmax kOhm\tmoves\talarm\topen\tshort\n"));
  }
  for (const LoopKey& key : history.Loops()) {
    const LoopSummary s = *history.Summary(key);
    if (!json) {
      std::fprintf(out, "%d\t%d\t%zu\t%s\t%s\t%d\t%s\t%s\t%s\n", key.address, key.loop, s.readings,
                   kiloOhmsText(s.minimum).c_str(), kiloOhmsText(s.maximum).c_str(), s.moves,
                   inOut(s, LoopCondition::Alarm).c_str(), inOut(s, LoopCondition::Open).c_str(),
                   inOut(s, LoopCondition::Short).c_str());
      continue;
    }
    Json moves = Json::array();
    for (const LoopMove& move : history.Moves(key)) {
      moves.push_back({{"time", IsoTime(move.time)},
                       {"from", ConditionText(move.from)},
                       {"to", ConditionText(move.to)}});
    }
    const Json line{{"addr", key.address},
                    {"loop", key.loop},
                    {"readings", s.readings},
                    {"min_kohm", jsonNumber(s.minimum)},
                    {"min_time", jsonTime(s.minimum)},
                    {"max_kohm", jsonNumber(s.maximum)},
                    {"max_time", jsonTime(s.maximum)},
                    {"moves", s.moves},
                    {"alarm", inOutJson(s, LoopCondition::Alarm)},
                    {"open", inOutJson(s, LoopCondition::Open)},
                    {"short", inOutJson(s, LoopCondition::Short)},
                    {"move_times", moves}};
    writeText(out, JsonText(line) + "\n");
  }
  std::fflush(out);
}

}  // namespace loopmon::cli
