#include "record/site_record.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <set>

#include "loops/loop_decode.h"
#include "platform/store/whole_file.h"
#include "platform/system/local_time.h"
#include "record/json.h"

namespace loopmon {
namespace {

std::optional<std::string> textOrNothing(const std::string& text) {
  if (text.empty()) return std::nullopt;
  return text;
}

// The checks of one object of a record, each failure naming where in the
// record it is ("device 5 loop 2 ").
class Fields {
 public:
  Fields(const Json& object, std::string where) : object_(object), where_(std::move(where)) {
    if (!object_.is_object()) fail("is not an object");
  }

  void at(std::string where) { where_ = std::move(where); }
  [[noreturn]] void fail(const std::string& problem) const { throw RecordError(where_ + problem); }

  const Json& member(const char* name) const {
    const auto found = object_.find(name);
    if (found == object_.end()) fail(std::string("has no \"") + name + "\"");
    return *found;
  }

  const Json& typed(const char* name, bool (Json::*is)() const noexcept) const {
    const Json& value = member(name);
    if (!(value.*is)()) fail(std::string("\"") + name + "\" has the wrong kind of value");
    return value;
  }

  std::string text(const char* name) const {
    return typed(name, &Json::is_string).get<std::string>();
  }

  double number(const char* name) const { return typed(name, &Json::is_number).get<double>(); }

  int integer(const char* name, int low, int high) const {
    const double value = number(name);
    if (value != std::floor(value) || value < low || value > high) {
      fail(std::string("\"") + name + "\" is not a whole number within " + std::to_string(low) +
           ".." + std::to_string(high));
    }
    return static_cast<int>(value);
  }

  bool isNull(const char* name) const { return member(name).is_null(); }

  std::optional<std::string> optionalText(const char* name) const {
    if (isNull(name)) return std::nullopt;
    return text(name);
  }

  const Json& array(const char* name) const { return typed(name, &Json::is_array); }

  bool has(const char* name) const { return object_.contains(name); }

  LoopCondition condition(const char* name) const {
    if (isNull(name)) return LoopCondition::NotShown;
    const std::optional<LoopCondition> condition = ConditionFromName(text(name));
    if (!condition) fail(std::string("\"") + name + "\" is no condition");
    return *condition;
  }

 private:
  const Json& object_;
  std::string where_;
};

Json conditionJson(LoopCondition condition) {
  const char* name = ConditionName(condition);
  return name != nullptr ? Json(name) : Json();
}

// Records written before the conditions were kept have only the texts the
// table showed; the readings' own mapping of those texts gives them back.
LoopCondition earlierCondition(const LoopRecord& loop) {
  if (loop.kohm) return LoopCondition::Normal;
  if (!loop.text) return LoopCondition::NotShown;
  if (*loop.text == ConditionText(LoopCondition::Unanswered)) return LoopCondition::Unanswered;
  // "Обрыв" and "КЗ" read alike for a plain loop and a line controller's device.
  return LineDeviceReading(0, 0, {}, 0, *loop.text).condition;
}

LoopCondition earlierStateCondition(const std::optional<std::string>& state) {
  if (!state) return LoopCondition::NotShown;
  if (*state == ConditionText(LoopCondition::Unanswered)) return LoopCondition::Unanswered;
  static const std::map<std::string, LoopCondition> byText = [] {
    std::map<std::string, LoopCondition> conditions;
    for (int code = 255; code >= 0; --code) {
      const auto value = static_cast<uint8_t>(code);
      conditions[LoopStateText(value)] = StateReading(0, 0, {}, value).condition;
    }
    return conditions;
  }();
  const auto found = byText.find(*state);
  return found == byText.end() ? LoopCondition::NotShown : found->second;
}

// A problem deeper in the record, named with the place it is in.
template <class Read>
auto within(const std::string& where, Read read) {
  try {
    return read();
  } catch (const RecordError& error) {
    throw RecordError(where + error.what());
  }
}

}  // namespace

LoopRecord LoopRecordOf(const LoopReading& adc, const LoopReading& state) {
  // The record writes its numbers with a point whatever the locale.
  const LoopCells adcCells = CellsOf(adc, '.');
  LoopRecord record;
  record.loop = adc.loop;
  record.condition = adc.condition;
  record.stateCondition = state.condition;
  record.state = textOrNothing(CellsOf(state, '.').columns[1].value_or(""));
  if (!adc.answered()) {
    record.text = textOrNothing(adcCells.columns[1].value_or(""));
    return record;
  }
  record.adc = adc.value;
  if (adc.kiloOhms && std::isfinite(*adc.kiloOhms)) {
    record.kohm = adc.kiloOhms;
  } else {
    record.text = textOrNothing(adcCells.columns[2].value_or(""));
  }
  return record;
}

void to_json(Json& json, const LoopRecord& loop) {
  json = Json{{"loop", loop.loop}};
  json["adc"] = loop.adc ? Json(*loop.adc) : Json();
  json["kohm"] = loop.kohm ? Json(*loop.kohm) : Json();
  json["text"] = loop.text ? Json(*loop.text) : Json();
  json["state"] = loop.state ? Json(*loop.state) : Json();
  json["condition"] = conditionJson(loop.condition);
  json["state_condition"] = conditionJson(loop.stateCondition);
}

void from_json(const Json& json, LoopRecord& loop) {
  Fields fields(json, "");
  loop.loop = fields.integer("loop", 1, 255);
  fields.at(std::to_string(loop.loop) + " ");
  loop.adc = fields.isNull("adc") ? std::nullopt : std::optional(fields.integer("adc", 0, 255));
  loop.kohm = fields.isNull("kohm") ? std::nullopt : std::optional(fields.number("kohm"));
  loop.text = fields.optionalText("text");
  loop.state = fields.optionalText("state");
  if (!fields.has("condition")) {
    loop.condition = earlierCondition(loop);
    loop.stateCondition = earlierStateCondition(loop.state);
    return;
  }
  loop.condition = fields.condition("condition");
  loop.stateCondition = fields.condition("state_condition");
}

void to_json(Json& json, const DeviceRecord& device) {
  json = Json{{"addr", device.addr},
              {"type", device.type},
              {"name", device.name},
              {"version", device.version / 100.0},
              {"loops", device.loops}};
}

void from_json(const Json& json, DeviceRecord& device) {
  Fields fields(json, "a device ");
  device.addr = static_cast<uint8_t>(fields.integer("addr", 1, 127));
  fields.at("device " + std::to_string(device.addr) + " ");
  device.type = static_cast<uint8_t>(fields.integer("type", 0, 255));
  device.name = fields.text("name");
  const double version = fields.number("version");
  const long versionByte = version >= 0 && version < 3 ? std::lround(version * 100) : -1;
  if (versionByte < 0 || versionByte > 255) fields.fail("\"version\" is not within 0..2.55");
  device.version = static_cast<uint8_t>(versionByte);
  const std::string where = "device " + std::to_string(device.addr) + " loop ";
  std::set<int> numbers;
  for (const Json& entry : fields.array("loops")) {
    LoopRecord loop = within(where, [&] { return entry.get<LoopRecord>(); });
    if (!numbers.insert(loop.loop).second) {
      throw RecordError(where + std::to_string(loop.loop) + " twice");
    }
    device.loops.push_back(std::move(loop));
  }
}

void to_json(Json& json, const SiteRecord& record) {
  json = Json{{"site", record.site},
              {"time", record.time},
              {"port", record.port},
              {"program", {{"name", record.programName}, {"version", record.programVersion}}},
              {"devices", record.devices}};
}

void from_json(const Json& json, SiteRecord& record) {
  if (!json.is_object() || !json.contains("devices") || !json.contains("program")) {
    throw RecordError("not a site record (no \"devices\" and \"program\")");
  }
  const Fields fields(json, "");
  record.site = fields.text("site");
  record.time = fields.text("time");
  record.port = fields.text("port");
  const Fields program(fields.typed("program", &Json::is_object), "program ");
  record.programName = program.text("name");
  record.programVersion = program.text("version");
  std::set<int> addresses;
  for (const Json& entry : fields.array("devices")) {
    DeviceRecord device = entry.get<DeviceRecord>();
    if (!addresses.insert(device.addr).second) {
      throw RecordError("device " + std::to_string(device.addr) + " twice");
    }
    record.devices.push_back(std::move(device));
  }
}

std::string RecordJson(const SiteRecord& record) {
  JsonStyle layout;
  layout.spaced = true;
  layout.fixed = {{"version", 2}};
  layout.multiline = true;
  layout.itemPerLine = {"devices", "loops"};
  try {
    return JsonText(Json(record), layout) + "\n";
  } catch (const JsonError& error) {
    throw RecordError(std::string("cannot be written: ") + error.what());
  }
}

SiteRecord ParseRecord(const std::string& text) {
  Json document;
  try {
    document = ParseJson(text);
  } catch (const JsonError& error) {
    throw RecordError(std::string("not JSON: ") + error.what());
  }
  return document.get<SiteRecord>();
}

SiteRecord LoadRecord(const std::string& path) {
  std::string bytes;
  return LoadRecord(path, bytes);
}

std::string ReadFileBytes(const std::string& path) {
  std::optional<std::string> bytes;
  try {
    bytes = readWholeFile(path);
  } catch (const FileError& error) {
    throw RecordError(path + ": cannot be read (" + error.reason() + ")");
  }
  if (!bytes) throw RecordError(path + ": cannot be read (" + FileNotFound + ")");
  return std::move(*bytes);
}

SiteRecord LoadRecord(const std::string& path, std::string& bytes) {
  bytes = ReadFileBytes(path);
  try {
    return ParseRecord(bytes);
  } catch (const RecordError& error) {
    throw RecordError(path + ": " + error.what());
  }
}

void SaveWholeFile(const std::string& path, const std::string& content) {
  try {
    replaceWholeFile(path, content);
  } catch (const FileError& error) {
    throw RecordError(path + ": cannot be written (" + error.reason() + ")");
  }
}

LoopCounts& LoopCounts::operator+=(const LoopCounts& other) {
  loops += other.loops;
  open += other.open;
  shorted += other.shorted;
  alarm += other.alarm;
  unanswered += other.unanswered;
  return *this;
}

LoopCounts CountLoops(const DeviceRecord& device) {
  LoopCounts counts;
  for (const LoopRecord& loop : device.loops) {
    const auto shows = [&](LoopCondition condition) {
      return loop.condition == condition || loop.stateCondition == condition ? 1 : 0;
    };
    ++counts.loops;
    counts.open += shows(LoopCondition::Open);
    counts.shorted += shows(LoopCondition::Short);
    counts.alarm += shows(LoopCondition::Alarm);
    counts.unanswered += shows(LoopCondition::Unanswered);
  }
  return counts;
}

LoopCounts CountLoops(const SiteRecord& record) {
  LoopCounts counts;
  for (const DeviceRecord& device : record.devices) counts += CountLoops(device);
  return counts;
}

std::optional<RecordInstant> RecordTimeOf(const std::string& text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &year, &month, &day, &hour, &minute,
                  &second, &used) != 6 ||
      used != 19) {
    return std::nullopt;
  }
  size_t at = 19;
  if (at < text.size() && text[at] == '.') {
    while (++at < text.size() && text[at] >= '0' && text[at] <= '9') {
    }
  }
  int offsetMinutes = 0;
  const std::string zone = text.substr(at);
  if (zone != "Z") {
    int hours = 0, minutes = 0;
    used = 0;
    if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') ||
        std::sscanf(zone.c_str() + 1, "%2d:%2d%n", &hours, &minutes, &used) != 2 || used != 5 ||
        hours > 23 || minutes > 59) {
      return std::nullopt;
    }
    offsetMinutes = (zone[0] == '-' ? -1 : 1) * (hours * 60 + minutes);
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
    return std::nullopt;
  }
  return RecordInstant{DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 +
                           second - offsetMinutes * 60,
                       offsetMinutes};
}

std::string LocalTimeText(const std::string& isoTime) {
  const std::optional<RecordInstant> instant = RecordTimeOf(isoTime);
  if (!instant) return isoTime;
  const std::tm t = localTimeOf(static_cast<std::time_t>(instant->seconds)).calendar;
  char text[64];
  std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d", t.tm_mday, t.tm_mon + 1,
                t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

}  // namespace loopmon
