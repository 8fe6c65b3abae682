#pragma once
// The site record as one self-contained HTML page (inline CSS and SVG, no
// script, nothing fetched) that prints on A4: the site, time, port and
// program, then per device a table of its loops, each resistance drawn as a
// small bar against its normal band, open, short and alarm marked in the
// windows' colours. With an earlier record the changes come first and are
// marked in the tables, and a certificate to sign ends it.

#include <optional>
#include <string>
#include <vector>

#include "record/compare.h"
#include "record/history.h"
#include "record/site_record.h"

namespace loopmon {

// The earlier record and what changed since it.
struct ReportBaseline {
  const SiteRecord& record;
  // CompareRecords(record, the reported record, the same tolerance).
  const std::vector<RecordChange>& changes;
};

// The site's loops across its visits up to the reported one.
struct ReportHistory {
  // LoopHistories of the site's records, the reported one the last.
  const std::vector<LoopSeries>& loops;
  int records = 0;
  int64_t nextVisitSeconds = 0;
};

// A loop's normal band is its resistance in the baseline, give or take the
// tolerance; without a baseline (or a resistance in it) it is the median of
// the device's resistances give or take the tolerance, since the loops of one
// device are mostly wired alike. Numbers are written with `separator`. The
// last page is a certificate to sign with `recordDigest`, the SHA-256 of the
// record's file (Sha256Hex); the page carries it, the record's site and time,
// and the digest of its own bytes, for ReadReportSeal. With a history each
// loop's row draws its series, band and forecast, and the loops due to leave
// their band before the next visit are listed first.
std::string ReportHtml(const SiteRecord& record, const std::string& recordDigest,
                       const ReportBaseline* baseline, double tolerancePercent, char separator,
                       const ReportHistory* history = nullptr);

// What a page of ReportHtml says of itself and of its record.
struct ReportSeal {
  // The page's bytes are still those written.
  bool intact = false;
  std::string recordDigest;
  std::string site;
  // The record's time as the record has it.
  std::string time;
};

// The seal of a page; no value for a page that carries none.
std::optional<ReportSeal> ReadReportSeal(const std::string& html);

// Whether a page and a record's file still belong together.
struct PageCheck {
  ReportSeal seal;
  // Sha256Hex of the record's file now.
  std::string recordDigest;
  // The record is not the one the page was written for: either that record
  // changed since, or (its site or time differing, where it still reads)
  // another record altogether.
  bool recordChanged = false;
  bool otherRecord = false;

  bool belong() const { return seal.intact && !recordChanged; }
};

// No value for a page that carries no seal.
std::optional<PageCheck> CheckPage(const std::string& html, const std::string& recordBytes);

// `text` for an HTML text or attribute: & < > " as entities.
std::string HtmlText(const std::string& text);

// Where the HTML page of the record saved at `jsonPath` goes: the same name
// with ".html" for its extension, never the record's own file.
std::string ReportPathFor(const std::string& jsonPath);

}  // namespace loopmon
