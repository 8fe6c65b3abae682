#include "common/iso_time.h"

#include <cstdio>

#include "platform/system/local_time.h"

namespace loopmon {
namespace {

struct CivilDate {
  int64_t year;
  int month;
  int day;
};

// The inverse of DaysFromCivil.
CivilDate civilOf(int64_t daysSince1970) {
  const int64_t days = daysSince1970 + 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  const int64_t day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  const int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), static_cast<int>(month),
          static_cast<int>(day)};
}

int64_t floorDiv(int64_t value, int64_t by) {
  return value >= 0 ? value / by : (value - by + 1) / by;
}

struct Instant {
  int64_t seconds;
  int millis;
};

Instant instantOf(std::chrono::system_clock::time_point time) {
  const int64_t millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
  const int64_t seconds = floorDiv(millis, 1000);
  return {seconds, static_cast<int>(millis - seconds * 1000)};
}

// The calendar fields, to the millisecond, and what follows them: "Z" or the
// offset.
std::string isoText(const std::tm& t, int millis, const char* zone) {
  char text[128];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%s", t.tm_year + 1900,
                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, millis, zone);
  return text;
}

}  // namespace

int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

std::string IsoDateOf(int64_t seconds, int offsetMinutes) {
  const CivilDate date = civilOf(floorDiv(seconds + int64_t{offsetMinutes} * 60, 86400));
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", static_cast<int>(date.year), date.month,
                date.day);
  return text;
}

std::string IsoTime(std::chrono::system_clock::time_point time) {
  const Instant instant = instantOf(time);
  const LocalTime local = localTimeOf(static_cast<std::time_t>(instant.seconds));
  const int offset = local.utcOffsetMinutes;
  const int offsetAbs = offset < 0 ? -offset : offset;
  char zone[16];
  std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', offsetAbs / 60,
                offsetAbs % 60);
  return isoText(local.calendar, instant.millis, zone);
}

std::string IsoUtcTime(std::chrono::system_clock::time_point time) {
  const Instant instant = instantOf(time);
  const int64_t days = floorDiv(instant.seconds, 86400);
  const int64_t secondOfDay = instant.seconds - days * 86400;
  const CivilDate date = civilOf(days);
  std::tm utc{};
  utc.tm_year = static_cast<int>(date.year - 1900);
  utc.tm_mon = date.month - 1;
  utc.tm_mday = date.day;
  utc.tm_hour = static_cast<int>(secondOfDay / 3600);
  utc.tm_min = static_cast<int>(secondOfDay / 60 % 60);
  utc.tm_sec = static_cast<int>(secondOfDay % 60);
  return isoText(utc, instant.millis, "Z");
}

}  // namespace loopmon
