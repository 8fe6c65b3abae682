#pragma once
// The site record as one self-contained HTML page (inline CSS and SVG, no
// script, nothing fetched) that prints on A4: the site, time, port and
// program, then per device a table of its loops, each resistance drawn as a
// small bar against its normal band, open, short and alarm marked in the
// windows' colours. With an earlier record the changes come first and are
// marked in the tables.

#include <string>
#include <vector>

#include "record/compare.h"
#include "record/site_record.h"

namespace loopmon {

// The earlier record and what changed since it.
struct ReportBaseline {
  const SiteRecord& record;
  // CompareRecords(record, the reported record, the same tolerance).
  const std::vector<RecordChange>& changes;
};

// A loop's normal band is its resistance in the baseline, give or take the
// tolerance; without a baseline (or a resistance in it) it is the median of
// the device's resistances give or take the tolerance, since the loops of one
// device are mostly wired alike. Numbers are written with `separator`.
std::string ReportHtml(const SiteRecord& record, const ReportBaseline* baseline,
                       double tolerancePercent, char separator);

}  // namespace loopmon
