#pragma once
// The site record: every loop of every device on a bus, in both views, as one
// JSON document that the next inspection compares against.
//
//   {"site": "...", "time": "2026-12-06T14:03:07.125+03:00", "port": "COM3",
//    "program": {"name": "loopctl", "version": "1.3.0"},
//    "devices": [{"addr": 5, "type": 1, "name": "Mivra-Q", "version": 1.05,
//                 "loops": [{"loop": 1, "adc": 100, "kohm": 3.1, "text": null,
//                            "state": "на охране"}, ...]}, ...]}

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/iso_time.h"
#include "loops/loop_reading.h"

namespace loopmon {

struct LoopRecord {
  int loop = 0;
  // The ADC view as loopctl read --json gives it: the reading and the
  // resistance (as measured) as numbers, or what the table shows instead
  // ("Обрыв", "КЗ", "откл.", "false" for a loop that did not answer, "?" for
  // a short answer).
  std::optional<int> adc;
  std::optional<double> kohm;
  std::optional<std::string> text;
  // The state view's text ("на охране", "false", ...); unset when it shows none.
  std::optional<std::string> state;
  // What the two views say of the loop ("condition" and "state_condition" in
  // the file, null for NotShown). A record written before they were kept
  // takes them from its texts.
  LoopCondition condition = LoopCondition::NotShown;
  LoopCondition stateCondition = LoopCondition::NotShown;

  bool operator==(const LoopRecord&) const = default;
};

struct DeviceRecord {
  uint8_t addr = 0;
  uint8_t type = 0;
  std::string name;
  // The version byte: the version times 100.
  uint8_t version = 0;
  std::vector<LoopRecord> loops;

  bool operator==(const DeviceRecord&) const = default;
};

struct SiteRecord {
  std::string site;
  // ISO 8601 with the offset, when the survey began.
  std::string time;
  std::string port;
  std::string programName;
  std::string programVersion;
  std::vector<DeviceRecord> devices;

  bool operator==(const SiteRecord&) const = default;
};

// How many loops a survey found in each condition a site is checked for; a
// loop counts once in each that either of its views shows.
struct LoopCounts {
  int loops = 0;
  int open = 0;
  int shorted = 0;
  int alarm = 0;
  int unanswered = 0;

  LoopCounts& operator+=(const LoopCounts& other);
  bool operator==(const LoopCounts&) const = default;
};
LoopCounts CountLoops(const DeviceRecord& device);
LoopCounts CountLoops(const SiteRecord& record);

// A record's time as the windows show times, in this machine's local time:
// "07.12.2026 21:15:31". A text that is no ISO 8601 time with its offset (an
// edited record) is shown as it stands.
std::string LocalTimeText(const std::string& isoTime);

// A record's time as an instant and the offset it was written with.
struct RecordInstant {
  // Seconds since 1970-01-01 UTC.
  int64_t seconds = 0;
  int offsetMinutes = 0;
};
// "2026-12-07T21:15:31", an optional fraction, then "Z" or "+03:00"; no value
// for any other text.
std::optional<RecordInstant> RecordTimeOf(const std::string& isoTime);

// A file or text that cannot be taken as a record; what() names the file and
// the problem.
class RecordError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A loop as a record keeps it, from its two readings: the ADC view's number
// and resistance at full precision, or what the table shows instead; the
// state view's text; the conditions of both.
LoopRecord LoopRecordOf(const LoopReading& adc, const LoopReading& state);

// The JSON of each part of a record. A part that is not what a record holds
// throws RecordError saying what and where ("device 5 loop 2 \"adc\" ...").
using Json = nlohmann::ordered_json;
void to_json(Json& json, const LoopRecord& loop);
void from_json(const Json& json, LoopRecord& loop);
void to_json(Json& json, const DeviceRecord& device);
void from_json(const Json& json, DeviceRecord& device);
void to_json(Json& json, const SiteRecord& record);
void from_json(const Json& json, SiteRecord& record);

// The record as JSON, one loop per line, numbers with "."; RecordError when
// a text in it is not UTF-8.
std::string RecordJson(const SiteRecord& record);

// Reads a record; RecordError says what is wrong (broken JSON with its line and
// column, or JSON that is not a site record), without the file's name.
SiteRecord ParseRecord(const std::string& text);

// A record's or its page's bytes: a regular file of at most WholeFileLimit
// bytes (whole_file.h); RecordError "PATH: cannot be read (reason)".
std::string ReadFileBytes(const std::string& path);

// ParseRecord of a file: a regular file of at most WholeFileLimit bytes
// (whole_file.h); RecordError naming the file. `bytes` gets the file as read.
SiteRecord LoadRecord(const std::string& path);
SiteRecord LoadRecord(const std::string& path, std::string& bytes);

// Writes `content` to `path` whole or not at all: an existing file keeps its
// old content when the write fails. RecordError naming the file and the reason.
void SaveWholeFile(const std::string& path, const std::string& content);

}  // namespace loopmon
