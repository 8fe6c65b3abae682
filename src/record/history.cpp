#include "record/history.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <tuple>

#include "platform/system/utf8.h"

namespace loopmon {
namespace {

namespace fs = std::filesystem;

bool namedJson(const fs::path& path) {
  std::string extension = utf8Of(path.extension());
  std::ranges::transform(extension, extension.begin(),
                         [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
  return extension == ".json";
}

// The *.json files under `folder`, sorted; a subfolder that cannot be read is
// named in `skipped`.
std::vector<std::string> jsonFilesUnder(const std::string& folder,
                                        std::vector<std::string>& skipped) {
  std::vector<std::string> files;
  std::error_code error;
  fs::recursive_directory_iterator entry(pathOf(folder), error);
  for (const fs::recursive_directory_iterator end; !error && entry != end; entry.increment(error)) {
    std::error_code kindError;
    if (entry->is_regular_file(kindError) && namedJson(entry->path())) {
      files.push_back(utf8Of(entry->path()));
    }
  }
  if (error) skipped.push_back(folder + ": cannot be read whole (" + error.message() + ")");
  std::ranges::sort(files);
  return files;
}

// The least-squares line through the points, x in months from the first:
// what LoopSeries keeps of it, and where it leaves the band.
void fit(LoopSeries& series) {
  const std::vector<LoopPoint>& points = series.points;
  const size_t n = points.size();
  if (n < 2) return;
  const auto monthsOf = [&](const LoopPoint& point) {
    return static_cast<double>(point.seconds - points.front().seconds) / SecondsPerMonth;
  };
  double meanX = 0, meanY = 0;
  for (const LoopPoint& point : points) {
    meanX += monthsOf(point);
    meanY += point.kohm;
  }
  meanX /= static_cast<double>(n);
  meanY /= static_cast<double>(n);
  double sxx = 0, sxy = 0;
  for (const LoopPoint& point : points) {
    sxx += (monthsOf(point) - meanX) * (monthsOf(point) - meanX);
    sxy += (monthsOf(point) - meanX) * (point.kohm - meanY);
  }
  // Visits all at one time give no direction.
  if (!(sxx > 0)) return;
  const double slope = sxy / sxx;
  const double intercept = meanY - slope * meanX;
  series.slope = slope;
  if (n < 3) return;
  double residuals = 0;
  for (const LoopPoint& point : points) {
    const double off = point.kohm - intercept - slope * monthsOf(point);
    residuals += off * off;
  }
  series.slopeError = std::sqrt(residuals / static_cast<double>(n - 2) / sxx);
  if (!(std::fabs(slope) > 2 * *series.slopeError)) return;
  const double limit = slope > 0 ? series.band.high : series.band.low;
  const double seconds = (limit - intercept) / slope * SecondsPerMonth;
  // A line so flat that it leaves within no time worth a date (or never).
  if (!(std::fabs(seconds) < 1e14)) return;
  series.leaves = points.front().seconds + std::llround(seconds);
}

}  // namespace

RecordSet LoadRecords(const std::vector<std::string>& paths) {
  RecordSet set;
  std::vector<std::string> files;
  for (const std::string& path : paths) {
    std::error_code error;
    if (fs::is_directory(pathOf(path), error)) {
      for (std::string& file : jsonFilesUnder(path, set.skipped)) files.push_back(std::move(file));
    } else {
      files.push_back(path);
    }
  }
  for (const std::string& file : files) {
    try {
      SiteRecord record = LoadRecord(file);
      const std::optional<RecordInstant> time = RecordTimeOf(record.time);
      if (!time) {
        set.skipped.push_back(file + ": \"time\" is no ISO 8601 time with its offset");
        continue;
      }
      set.records.push_back({file, std::move(record), *time});
    } catch (const RecordError& error) {
      set.skipped.push_back(error.what());
    }
  }
  std::ranges::stable_sort(set.records, [](const FoundRecord& a, const FoundRecord& b) {
    return a.time.seconds < b.time.seconds;
  });
  return set;
}

std::vector<LoopSeries> LoopHistories(const std::vector<FoundRecord>& records,
                                      const HistoryOptions& options) {
  // By site, address, type and loop: another type at an address is another
  // device, and a device gone for a visit keeps its series when it is back.
  std::map<std::tuple<std::string, int, int, int>, LoopSeries> byLoop;
  std::map<std::string, const FoundRecord*> lastOfSite;
  for (const FoundRecord& found : records) {
    lastOfSite[found.record.site] = &found;
    for (const DeviceRecord& device : found.record.devices) {
      for (const LoopRecord& loop : device.loops) {
        if (!loop.kohm) continue;
        LoopSeries& series = byLoop[{found.record.site, device.addr, device.type, loop.loop}];
        series.site = found.record.site;
        series.addr = device.addr;
        series.type = device.type;
        series.name = device.name;
        series.loop = loop.loop;
        series.points.push_back({found.time.seconds, *loop.kohm});
      }
    }
  }
  std::vector<LoopSeries> histories;
  for (auto& [key, series] : byLoop) {
    const FoundRecord& last = *lastOfSite.at(series.site);
    series.lastVisit = last.time.seconds;
    series.offsetMinutes = last.time.offsetMinutes;
    if (const auto given = options.bands.find(series.type); given != options.bands.end()) {
      series.band = given->second;
    } else {
      const double first = series.points.front().kohm;
      // A negative resistance (a loop read below its calibration) turns the
      // band round.
      const double one = first * (1 - options.tolerancePercent / 100);
      const double other = first * (1 + options.tolerancePercent / 100);
      series.band = {std::min(one, other), std::max(one, other)};
    }
    fit(series);
    series.beforeNextVisit =
        series.leaves && *series.leaves <= series.lastVisit + options.nextVisitSeconds;
    histories.push_back(std::move(series));
  }
  // byLoop kept them by site, address, type and loop already.
  std::ranges::stable_sort(histories, [](const LoopSeries& a, const LoopSeries& b) {
    if (a.beforeNextVisit != b.beforeNextVisit) return a.beforeNextVisit;
    return a.beforeNextVisit && *a.leaves < *b.leaves;
  });
  return histories;
}

std::vector<SiteSummary> SiteSummaries(const std::vector<FoundRecord>& records,
                                       const HistoryOptions& options, int64_t now) {
  std::map<std::string, SiteSummary> sites;
  std::map<std::string, const FoundRecord*> latest;
  for (const FoundRecord& found : records) {
    SiteSummary& summary = sites[found.record.site];
    summary.site = found.record.site;
    ++summary.visits;
    latest[found.record.site] = &found;
  }
  std::map<std::tuple<std::string, int, int, int>, Band> bands;
  for (LoopSeries& series : LoopHistories(records, options)) {
    bands[{series.site, series.addr, series.type, series.loop}] = series.band;
    if (series.beforeNextVisit) sites[series.site].due.push_back(std::move(series));
  }
  std::vector<SiteSummary> summaries;
  for (auto& [name, summary] : sites) {
    const FoundRecord& last = *latest.at(name);
    summary.latestPath = last.path;
    summary.latestTime = last.record.time;
    summary.lastVisit = last.time;
    summary.overdue = now - last.time.seconds > options.nextVisitSeconds;
    summary.devices = static_cast<int>(last.record.devices.size());
    summary.counts = CountLoops(last.record);
    for (const DeviceRecord& device : last.record.devices) {
      for (const LoopRecord& loop : device.loops) {
        WorstLoop worst{device.addr, loop.loop, LoopCondition::Normal, loop.kohm, 0};
        for (const LoopCondition condition : {LoopCondition::Open, LoopCondition::Short,
                                              LoopCondition::Unanswered, LoopCondition::Alarm}) {
          if (worst.condition == LoopCondition::Normal &&
              (loop.condition == condition || loop.stateCondition == condition)) {
            worst.condition = condition;
          }
        }
        const auto band = bands.find({name, device.addr, device.type, loop.loop});
        if (loop.kohm && band != bands.end()) {
          const double middle = (band->second.low + band->second.high) / 2;
          const double off =
              std::max({band->second.low - *loop.kohm, *loop.kohm - band->second.high, 0.0});
          worst.outside = middle > 0 ? off / middle : off;
        }
        if (worst.condition != LoopCondition::Normal || worst.outside > 0) {
          summary.worst.push_back(worst);
        }
      }
    }
    const auto rank = [](const WorstLoop& loop) {
      switch (loop.condition) {
        case LoopCondition::Open:
        case LoopCondition::Short:
          return 0;
        case LoopCondition::Unanswered:
          return 1;
        case LoopCondition::Alarm:
          return 2;
        default:
          return 3;
      }
    };
    std::ranges::stable_sort(summary.worst, [&](const WorstLoop& a, const WorstLoop& b) {
      if (rank(a) != rank(b)) return rank(a) < rank(b);
      return a.outside > b.outside;
    });
    summaries.push_back(std::move(summary));
  }
  return summaries;
}

}  // namespace loopmon
