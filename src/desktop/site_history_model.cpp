#include "desktop/site_history_model.h"

#include <algorithm>
#include <chrono>
#include <set>

#include "common/number_text.h"
#include "desktop/texts.h"
#include "platform/system/locale_info.h"

namespace loopmon {

SiteHistoryModel::SiteHistoryModel(SiteHistoryView& view, std::optional<char> decimalSeparator)
    : view_(view), decimalSeparator_(decimalSeparator) {}

char SiteHistoryModel::separator() const {
  return decimalSeparator_ ? *decimalSeparator_ : userDecimalSeparator();
}

bool SiteHistoryModel::open() {
  const std::optional<std::string> folder = view_.askFolder();
  if (!folder || folder->empty()) return false;
  return load(*folder);
}

bool SiteHistoryModel::load(const std::string& folder) {
  RecordSet set = LoadRecords({folder});
  loops_ = LoopHistories(set.records, HistoryOptions{});
  skipped_ = std::move(set.skipped);
  std::set<std::string> sites;
  for (const LoopSeries& series : loops_) sites.insert(series.site);
  lines_.clear();
  for (const LoopSeries& series : loops_) lines_.push_back(lineOf(series, sites.size() > 1));
  chosen_.reset();
  series_.clear();
  const std::string status = set.records.empty() ? texts::Format(texts::NoRecordsIn, folder)
                                                 : texts::Format(texts::SiteHistoryLoaded,
                                                                 std::to_string(set.records.size()),
                                                                 std::to_string(loops_.size()));
  view_.showLoops(status, lines_, skipped_);
  if (set.records.empty()) {
    view_.showMessage(status);
    return false;
  }
  loopChosen(0);
  return true;
}

std::string SiteHistoryModel::lineOf(const LoopSeries& series, bool severalSites) const {
  const char decimal = separator();
  std::string line = series.beforeNextVisit ? texts::SiteHistoryDue : "";
  if (severalSites) line += series.site + ": ";
  line += texts::Format(texts::SiteHistoryLoop, std::to_string(series.addr),
                        std::to_string(series.loop));
  line += texts::Format(texts::SiteHistoryVisits, std::to_string(series.points.size()),
                        FormatFixed(series.points.back().kohm, 2, decimal));
  if (series.slope) {
    std::string slope = (*series.slope >= 0 ? "+" : "") + FormatFixed(*series.slope, 3, decimal);
    if (series.slopeError) slope += " ± " + FormatFixed(*series.slopeError, 3, decimal);
    line += texts::Format(texts::SiteHistorySlope, slope);
  }
  if (series.leaves) {
    line +=
        texts::Format(texts::SiteHistoryLeaves, IsoDateOf(*series.leaves, series.offsetMinutes));
  }
  return line;
}

void SiteHistoryModel::loopChosen(int line) {
  if (line < 0 || static_cast<size_t>(line) >= loops_.size()) return;
  chosen_ = static_cast<size_t>(line);
  series_.clear();
  for (const LoopPoint& point : loops_[*chosen_].points) {
    HistoryPoint shown;
    shown.time = WallTime(std::chrono::seconds(point.seconds));
    shown.kiloOhmsOrNan = point.kohm;
    series_.push_back(shown);
  }
  view_.showPlot();
}

std::string SiteHistoryModel::title() const {
  if (loops_.empty()) return texts::SiteHistoryTitle;
  return std::string(texts::SiteHistoryTitle) + " — " + loops_.front().site;
}

std::vector<PlotShape> SiteHistoryModel::plot(Size area, int dpi,
                                              const TextMeasure& measure) const {
  const int offset = chosen_ ? loops_[*chosen_].offsetMinutes : 0;
  return PlotSeries(series_, area, dpi, measure, separator(), [offset](WallTime time) {
    return IsoDateOf(
        std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count(), offset);
  });
}

}  // namespace loopmon
