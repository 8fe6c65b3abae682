#include "record/site_record.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "common/number_text.h"
#include "platform/store/whole_file.h"
#include "record/json.h"

namespace loopmon {
namespace {

std::optional<std::string> textOrNothing(const std::string& text) {
  if (text.empty()) return std::nullopt;
  return text;
}

std::string numberOrNull(const std::optional<double>& value, int decimals) {
  return value ? FormatFixed(*value, decimals, '.') : "null";
}

std::string textOrNull(const std::optional<std::string>& text) {
  return text ? jsonString(*text) : "null";
}

// The checks of one document, each failure naming where in the record it is.
class RecordReader {
 public:
  SiteRecord read(const JsonValue& document) {
    if (!document.is(JsonValue::Kind::Object) || document.find("devices") == nullptr ||
        document.find("program") == nullptr) {
      throw RecordError("not a site record (no \"devices\" and \"program\")");
    }
    SiteRecord record;
    record.site = text(document, "site", "");
    record.time = text(document, "time", "");
    record.port = text(document, "port", "");
    const JsonValue& program = member(document, "program", JsonValue::Kind::Object, "");
    record.programName = text(program, "name", "program ");
    record.programVersion = text(program, "version", "program ");
    const JsonValue& devices = member(document, "devices", JsonValue::Kind::Array, "");
    std::set<int> addresses;
    for (const JsonValue& device : devices.items) {
      record.devices.push_back(readDevice(device));
      if (!addresses.insert(record.devices.back().addr).second) {
        throw RecordError("device " + std::to_string(record.devices.back().addr) + " twice");
      }
    }
    return record;
  }

 private:
  static const JsonValue& member(const JsonValue& object, const std::string& name,
                                 JsonValue::Kind kind, const std::string& where) {
    if (!object.is(JsonValue::Kind::Object)) throw RecordError(where + "is not an object");
    const JsonValue* value = object.find(name);
    if (value == nullptr) throw RecordError(where + "has no \"" + name + "\"");
    if (!value->is(kind)) throw RecordError(where + "\"" + name + "\" has the wrong kind of value");
    return *value;
  }

  static std::string text(const JsonValue& object, const std::string& name,
                          const std::string& where) {
    return member(object, name, JsonValue::Kind::String, where).text;
  }

  static int integer(const JsonValue& object, const std::string& name, int low, int high,
                     const std::string& where) {
    const double value = member(object, name, JsonValue::Kind::Number, where).number;
    if (value != std::floor(value) || value < low || value > high) {
      throw RecordError(where + "\"" + name + "\" is not a whole number within " +
                        std::to_string(low) + ".." + std::to_string(high));
    }
    return static_cast<int>(value);
  }

  static bool isNull(const JsonValue& object, const std::string& name, const std::string& where) {
    const JsonValue* value = object.find(name);
    if (value == nullptr) throw RecordError(where + "has no \"" + name + "\"");
    return value->is(JsonValue::Kind::Null);
  }

  static std::optional<std::string> optionalText(const JsonValue& object, const std::string& name,
                                                 const std::string& where) {
    if (isNull(object, name, where)) return std::nullopt;
    return text(object, name, where);
  }

  static DeviceRecord readDevice(const JsonValue& device) {
    const std::string where = "a device ";
    DeviceRecord record;
    record.addr = static_cast<uint8_t>(integer(device, "addr", 1, 127, where));
    const std::string at = "device " + std::to_string(record.addr) + " ";
    record.type = static_cast<uint8_t>(integer(device, "type", 0, 255, at));
    record.name = text(device, "name", at);
    const double version = member(device, "version", JsonValue::Kind::Number, at).number;
    const long versionByte = version >= 0 && version < 3 ? std::lround(version * 100) : -1;
    if (versionByte < 0 || versionByte > 255) {
      throw RecordError(at + "\"version\" is not within 0..2.55");
    }
    record.version = static_cast<uint8_t>(versionByte);
    std::set<int> numbers;
    for (const JsonValue& loop : member(device, "loops", JsonValue::Kind::Array, at).items) {
      LoopRecord entry;
      entry.loop = integer(loop, "loop", 1, 255, at + "loop ");
      const std::string here = at + "loop " + std::to_string(entry.loop) + " ";
      if (!numbers.insert(entry.loop).second) throw RecordError(here + "twice");
      if (!isNull(loop, "adc", here)) entry.adc = integer(loop, "adc", 0, 255, here);
      if (!isNull(loop, "kohm", here)) {
        entry.kohm = member(loop, "kohm", JsonValue::Kind::Number, here).number;
      }
      entry.text = optionalText(loop, "text", here);
      entry.state = optionalText(loop, "state", here);
      record.loops.push_back(std::move(entry));
    }
    return record;
  }
};

// Paths are UTF-8 on every system; a plain string would be read in the
// Windows ANSI code page.
std::filesystem::path pathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace

LoopRecord LoopRecordOf(const LoopReading& adc, const LoopReading& state) {
  // The record writes its numbers with a point whatever the locale.
  const LoopCells adcCells = CellsOf(adc, '.');
  LoopRecord record;
  record.loop = adc.loop;
  record.state = textOrNothing(CellsOf(state, '.').columns[1].value_or(""));
  if (!adc.answered()) {
    record.text = textOrNothing(adcCells.columns[1].value_or(""));
    return record;
  }
  record.adc = adc.value;
  // Kept to the tenth the table shows.
  if (adc.kiloOhms && std::isfinite(*adc.kiloOhms)) {
    record.kohm = StrToFloat(FormatFixed(*adc.kiloOhms, 1, '.'), '.');
  } else {
    record.text = textOrNothing(adcCells.columns[2].value_or(""));
  }
  return record;
}

std::string RecordJson(const SiteRecord& record) {
  std::ostringstream out;
  out << "{\n  \"site\": " << jsonString(record.site)
      << ",\n  \"time\": " << jsonString(record.time)
      << ",\n  \"port\": " << jsonString(record.port)
      << ",\n  \"program\": {\"name\": " << jsonString(record.programName)
      << ", \"version\": " << jsonString(record.programVersion) << "},\n  \"devices\": [";
  for (size_t d = 0; d < record.devices.size(); ++d) {
    const DeviceRecord& device = record.devices[d];
    out << (d == 0 ? "\n" : ",\n") << "    {\"addr\": " << int{device.addr}
        << ", \"type\": " << int{device.type} << ", \"name\": " << jsonString(device.name)
        << ", \"version\": " << FormatFixed(device.version / 100.0, 2, '.') << ", \"loops\": [";
    for (size_t l = 0; l < device.loops.size(); ++l) {
      const LoopRecord& loop = device.loops[l];
      out << (l == 0 ? "\n" : ",\n") << "      {\"loop\": " << loop.loop
          << ", \"adc\": " << (loop.adc ? std::to_string(*loop.adc) : "null")
          << ", \"kohm\": " << numberOrNull(loop.kohm, 1) << ", \"text\": " << textOrNull(loop.text)
          << ", \"state\": " << textOrNull(loop.state) << "}";
    }
    out << (device.loops.empty() ? "]}" : "\n    ]}");
  }
  out << (record.devices.empty() ? "]\n}\n" : "\n  ]\n}\n");
  return out.str();
}

SiteRecord ParseRecord(const std::string& text) {
  JsonValue document;
  try {
    document = ParseJson(text);
  } catch (const JsonError& error) {
    throw RecordError(std::string("not JSON: ") + error.what());
  }
  return RecordReader().read(document);
}

SiteRecord LoadRecord(const std::string& path) {
  std::ifstream file(pathOf(path), std::ios::binary);
  if (!file) throw RecordError(path + ": cannot be read");
  std::ostringstream content;
  content << file.rdbuf();
  if (file.bad()) throw RecordError(path + ": cannot be read");
  try {
    return ParseRecord(content.str());
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

}  // namespace loopmon
