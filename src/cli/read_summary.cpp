#include "cli/read_summary.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "common/number_text.h"
#include "loops/loop_decode.h"
#include "loops/loop_layout.h"
#include "transport/frame.h"

namespace loopmon::cli {

namespace {

std::optional<int> adcOf(const std::string& text) {
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  const int value = std::stoi(text);
  return value <= 255 ? std::optional(value) : std::nullopt;
}

std::optional<uint8_t> stateCodeOf(const std::string& text) {
  for (int code = 0; code <= 255; ++code) {
    if (LoopStateText(static_cast<uint8_t>(code)) == text) return static_cast<uint8_t>(code);
  }
  return std::nullopt;
}

std::string kiloOhmsText(const std::optional<Extreme>& extreme) {
  return extreme ? FormatFixed(extreme->kiloOhms, 1) : "-";
}

std::string jsonNumber(const std::optional<Extreme>& extreme) {
  return extreme ? FloatToStr(extreme->kiloOhms, '.') : "null";
}

std::string jsonTime(const std::optional<Extreme>& extreme) {
  return extreme ? "\"" + IsoTime(extreme->time) + "\"" : "null";
}

std::string inOut(const LoopSummary& summary, LoopCondition condition, bool json) {
  const int in = summary.Into(condition);
  const int out = summary.OutOf(condition);
  if (json) return "{\"in\":" + std::to_string(in) + ",\"out\":" + std::to_string(out) + "}";
  return std::to_string(in) + "/" + std::to_string(out);
}

}  // namespace

std::optional<LoopReading> ReadingFromRow(const ConsoleLoopTable& table, int loop,
                                          const Coefficients& coefficients, WallTime time) {
  const SelectedDevice device = table.Device();
  const std::string shown = table.Cell(1, loop);
  if (!table.AdcView()) {
    // A state without a text of its own cannot be told from an empty row;
    // "false" and "?" name no state.
    const auto code = shown.empty() ? std::nullopt : stateCodeOf(shown);
    if (!code) return std::nullopt;
    return StateReading(device.DevAddr, loop, time, *code);
  }
  const auto adc = adcOf(shown);
  if (!adc) return std::nullopt;
  if (device.DevType == LineControllerType) {
    return LineDeviceReading(device.DevAddr, loop, time, static_cast<uint8_t>(*adc),
                             table.Cell(2, loop));
  }
  return AdcReading(device.DevAddr, loop, time, static_cast<uint8_t>(*adc), coefficients);
}

void FeedSubscriptions(TRSSession& session, LoopHistory& history,
                       const std::vector<uint8_t>& addresses) {
  struct Device {
    uint16_t type = 0;
    Coefficients coefficients;
  };
  std::map<uint8_t, Device> devices;
  const CoefficientsStore store;
  for (uint8_t addr : addresses) {
    const uint16_t type = session.GetDeviceType(addr);
    devices[addr] = {type, store.Lookup(static_cast<uint8_t>(type), session.DeviceVersion(addr))};
  }
  session.OnNewADC = [shown = session.OnNewADC, &history, devices](
                         const Bytes& answer, uint8_t command, uint8_t loop, int32_t typeEvent,
                         const void* data, int32_t dataLength) {
    if (shown) shown(answer, command, loop, typeEvent, data, dataLength);
    if (!data || answer.size() < 6) return;
    const uint8_t addr = *static_cast<const uint8_t*>(data);
    const auto device = devices.find(addr);
    if (device == devices.end()) return;
    const WallTime now = std::chrono::system_clock::now();
    const uint8_t value = answer[4];
    switch (answer[FrameOffset::Code]) {
      case BusAnswer::LoopAdc:
        history.Record(AdcReading(addr, loop, now, value, device->second.coefficients));
        break;
      case BusAnswer::LineDevice:
        // A line device's reading means what its kind says; the subscription
        // does not know that kind, so the reading is kept as it is.
        if (answer[3] == LineQuery::Reading) {
          history.Record(LineDeviceReading(addr, loop, now, value, ""));
        }
        break;
      case BusAnswer::LoopState:
        history.Record(StateReading(addr, loop, now, value));
        break;
      default:
        break;
    }
  };
}

void PrintSummary(std::FILE* out, const LoopHistory& history, bool json) {
  if (!json) {
    std::fprintf(out, "addr\tloop\treadings\tmin kOhm\tmax kOhm\tmoves\talarm\topen\tshort\n");
  }
  for (const LoopKey& key : history.Loops()) {
    const LoopSummary s = *history.Summary(key);
    if (!json) {
      std::fprintf(out, "%d\t%d\t%zu\t%s\t%s\t%d\t%s\t%s\t%s\n", key.address, key.loop, s.readings,
                   kiloOhmsText(s.minimum).c_str(), kiloOhmsText(s.maximum).c_str(), s.moves,
                   inOut(s, LoopCondition::Alarm, false).c_str(),
                   inOut(s, LoopCondition::Open, false).c_str(),
                   inOut(s, LoopCondition::Short, false).c_str());
      continue;
    }
    std::string moves;
    for (const LoopMove& move : history.Moves(key)) {
      if (!moves.empty()) moves += ',';
      moves += "{\"time\":\"" + IsoTime(move.time) + "\",\"from\":\"" + ConditionText(move.from) +
               "\",\"to\":\"" + ConditionText(move.to) + "\"}";
    }
    std::fprintf(out,
                 "{\"addr\":%d,\"loop\":%d,\"readings\":%zu,\"min_kohm\":%s,\"min_time\":%s,"
                 "\"max_kohm\":%s,\"max_time\":%s,\"moves\":%d,\"alarm\":%s,\"open\":%s,"
                 "\"short\":%s,\"move_times\":[%s]}\n",
                 key.address, key.loop, s.readings, jsonNumber(s.minimum).c_str(),
                 jsonTime(s.minimum).c_str(), jsonNumber(s.maximum).c_str(),
                 jsonTime(s.maximum).c_str(), s.moves, inOut(s, LoopCondition::Alarm, true).c_str(),
                 inOut(s, LoopCondition::Open, true).c_str(),
                 inOut(s, LoopCondition::Short, true).c_str(), moves.c_str());
  }
  std::fflush(out);
}

}  // namespace loopmon::cli
