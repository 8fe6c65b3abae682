#pragma once
// A site's loops across its visits: the records of many inspections, matched
// by site and by device (address and type), each loop's resistances as a
// series over time, its drift as a least-squares line, and the date that line
// leaves the loop's band. A terminal that corrodes a little each visit shows
// in no single comparison; its series shows it before the loop opens.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "record/compare.h"
#include "record/site_record.h"

namespace loopmon {

// A record as found among the files, with its time taken apart.
struct FoundRecord {
  std::string path;
  SiteRecord record;
  RecordInstant time;
};

struct RecordSet {
  // Earliest first, whatever the order of the files; records of one time in
  // the order found (the files given, a folder's by name).
  std::vector<FoundRecord> records;
  // One line per file not taken ("PATH: not a site record ..."), in the
  // order met.
  std::vector<std::string> skipped;
};

// The records among `paths` (UTF-8): a folder is searched with its subfolders
// for files named *.json, a file given is read whatever its name. A file that
// cannot be read, is no record or has a time that is no ISO 8601 time with
// its offset is named in `skipped` and left out; none of it stops the others.
RecordSet LoadRecords(const std::vector<std::string>& paths);

// The months the drift is told in: a twelfth of the Gregorian year.
inline constexpr double SecondsPerMonth = 365.2425 * 86400 / 12;

struct Band {
  double low = 0;
  double high = 0;

  bool operator==(const Band&) const = default;
};

struct HistoryOptions {
  // A loop's band is its first resistance give or take this, unless its
  // device type has a band of its own in `bands`.
  double tolerancePercent = DefaultTolerancePercent;
  std::map<uint8_t, Band> bands;
  // How far after a site's last visit the next one is due.
  int64_t nextVisitSeconds = static_cast<int64_t>(6 * SecondsPerMonth);
};

struct LoopPoint {
  int64_t seconds = 0;
  double kohm = 0;
};

// One loop of one device of one site over every visit that read its
// resistance.
struct LoopSeries {
  std::string site;
  uint8_t addr = 0;
  uint8_t type = 0;
  // The model's name as the latest record has it.
  std::string name;
  int loop = 0;
  // Earliest first.
  std::vector<LoopPoint> points;
  Band band;
  // kOhm per month: from two visits at different times on; its standard
  // error from three on.
  std::optional<double> slope;
  std::optional<double> slopeError;
  // When the fitted line leaves the band (seconds since 1970 UTC), where the
  // slope is more than twice its error; it may lie before the last visit.
  std::optional<int64_t> leaves;
  // `leaves` falls before the site's next visit is due.
  bool beforeNextVisit = false;
  // The site's last visit, and its record's UTC offset, in which dates are told.
  int64_t lastVisit = 0;
  int offsetMinutes = 0;
};

// Every loop that read a resistance in at least one record, per site.
// Loops expected to leave their band before the next visit come first,
// soonest first; then the others by site, address, type and loop.
std::vector<LoopSeries> LoopHistories(const std::vector<FoundRecord>& records,
                                      const HistoryOptions& options);

// A loop worth a look in a site's latest record: what either view says of
// it, or how far its resistance lies outside its band.
struct WorstLoop {
  uint8_t addr = 0;
  int loop = 0;
  // Open, short, unanswered or alarm in either view; Normal otherwise.
  LoopCondition condition = LoopCondition::Normal;
  std::optional<double> kohm;
  // How far outside the band, as a share of the band's middle; 0 inside.
  double outside = 0;
};

// One site at a glance.
struct SiteSummary {
  std::string site;
  // The latest record's file and time.
  std::string latestPath;
  std::string latestTime;
  RecordInstant lastVisit;
  int visits = 0;
  // More than the options' next-visit time has passed since the last visit.
  bool overdue = false;
  // Of the latest record.
  int devices = 0;
  LoopCounts counts;
  // Open and short first, then unanswered, alarm, and the resistances
  // furthest outside their band.
  std::vector<WorstLoop> worst;
  // Loops forecast to leave their band before the next visit, soonest first.
  std::vector<LoopSeries> due;
};

// Every site of the records, by name; `now` in seconds since 1970 UTC.
std::vector<SiteSummary> SiteSummaries(const std::vector<FoundRecord>& records,
                                       const HistoryOptions& options, int64_t now);

}  // namespace loopmon
