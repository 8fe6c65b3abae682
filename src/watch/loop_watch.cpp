#include "watch/loop_watch.h"

namespace loopmon {

namespace {

template <typename T>
Json optionalJson(const std::optional<T>& value) {
  return value ? Json(*value) : Json(nullptr);
}

}  // namespace

Json ConditionJson(LoopCondition condition) {
  const char* name = ConditionName(condition);
  return name ? Json(name) : Json(nullptr);
}

Json LoopEvent(const std::string& line, uint8_t address, int loop, Json made) {
  Json event = {{"event", std::move(made["event"])}, {"line", line}};
  event["addr"] = address;
  event["loop"] = loop;
  made.erase("event");
  for (auto& [key, value] : made.items()) event[key] = std::move(value);
  return event;
}

std::optional<Json> LoopWatch::take(const LoopRecord& loop) {
  const LoopCondition before = condition_;
  const bool changed = loop.condition != before;
  const FlapDetector::Turn turn = flap_.add(changed);
  condition_ = loop.condition;
  if (changed) ++changes_;
  const char* name = turn == FlapDetector::Turn::Started   ? "flapping started"
                     : turn == FlapDetector::Turn::Stopped ? "flapping stopped"
                     : changed && !flap_.flapping()        ? "condition"
                                                           : nullptr;
  if (!name) return std::nullopt;
  Json event = {{"event", name}};
  if (turn == FlapDetector::Turn::Started) {
    event["percent"] = flap_.percent();
  } else if (turn == FlapDetector::Turn::Stopped) {
    event["condition"] = ConditionJson(loop.condition);
  } else {
    event["from"] = ConditionJson(before);
    event["to"] = ConditionJson(loop.condition);
  }
  event["kohm"] = optionalJson(loop.kohm);
  event["adc"] = optionalJson(loop.adc);
  event["state"] = optionalJson(loop.state);
  return event;
}

}  // namespace loopmon
