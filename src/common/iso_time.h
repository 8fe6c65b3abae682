#pragma once
// ISO 8601 times and dates, as every record, log line and file of the system
// writes them.

#include <chrono>
#include <cstdint>
#include <string>

namespace loopmon {

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar,
// without timegm, which not every C library has.
int64_t DaysFromCivil(int64_t year, int month, int day);

// The calendar date ("2027-03-01") of an instant (seconds since 1970-01-01
// UTC) at a UTC offset.
std::string IsoDateOf(int64_t seconds, int offsetMinutes);

// "2026-12-06T14:26:45.123+03:00": local time with its offset from UTC.
std::string IsoTime(std::chrono::system_clock::time_point time);

// "2026-12-06T11:26:45.123Z": the same instant in UTC.
std::string IsoUtcTime(std::chrono::system_clock::time_point time);

}  // namespace loopmon
