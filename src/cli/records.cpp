#include "cli/records.h"

#include <ctime>
#include <utility>

#include "cli/output.h"

namespace loopmon::cli {
namespace {

// Days since 1970-01-01 of a civil date, for the zone offset without
// depending on timegm, which not every C library has.
long long daysFromCivil(long long year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146'097 + static_cast<long long>(dayOfEra) - 719'468;
}

long long secondsOf(const std::tm& time) {
  return daysFromCivil(time.tm_year + 1900LL, static_cast<unsigned>(time.tm_mon + 1),
                       static_cast<unsigned>(time.tm_mday)) *
             86'400 +
         time.tm_hour * 3600LL + time.tm_min * 60LL + time.tm_sec;
}

}  // namespace

std::string isoTimestamp(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count() % 1000;
  // Only loopctl's main thread prints, so the shared results of the two
  // conversions are safe; each is copied before the next call.
  const std::tm local = *std::localtime(&seconds);
  const std::tm utc = *std::gmtime(&seconds);
  const long long offsetMinutes = (secondsOf(local) - secondsOf(utc)) / 60;
  const int offset = static_cast<int>(offsetMinutes < 0 ? -offsetMinutes : offsetMinutes) % 1440;
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d",
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec, static_cast<int>(millis), offsetMinutes < 0 ? '-' : '+', offset / 60,
                offset % 60);
  return text;
}

RecordWriter::RecordWriter(std::FILE* out, RecordFormat format, std::vector<std::string> columns,
                           char decimalSeparator, JsonStyle style)
    : out_(out),
      format_(format),
      columns_(std::move(columns)),
      fieldSeparator_(decimalSeparator == ',' ? ';' : ','),
      style_(std::move(style)) {}

void RecordWriter::heading() {
  if (format_ == RecordFormat::Json) return;
  std::string line;
  for (const std::string& column : columns_) {
    if (!line.empty()) line += format_ == RecordFormat::Csv ? fieldSeparator_ : '\t';
    line += column;
  }
  printLine(out_, line);
}

void RecordWriter::record(const std::vector<Field>& fields) {
  if (format_ == RecordFormat::Json) {
    Json line = Json::object();
    for (size_t i = 0; i < columns_.size(); ++i) {
      line[columns_[i]] = i < fields.size() ? fields[i].value : Json();
    }
    printLine(out_, JsonText(line, style_));
    return;
  }
  std::string line;
  for (size_t i = 0; i < columns_.size(); ++i) {
    const std::string shown = i < fields.size() ? fields[i].shown : std::string();
    if (i > 0) line += format_ == RecordFormat::Csv ? fieldSeparator_ : '\t';
    line += format_ == RecordFormat::Csv ? csvField(shown) : shown;
  }
  printLine(out_, line);
}

std::string RecordWriter::csvField(const std::string& text) const {
  if (text.find_first_of(std::string("\"\r\n") + fieldSeparator_) == std::string::npos) {
    return text;
  }
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

}  // namespace loopmon::cli
