#pragma once
// Every site a company keeps, at a glance: one self-contained page (inline
// CSS, no script, nothing fetched) with a row per site, its last visit and
// whether the next is overdue, its devices, the loops worst off in its latest
// record and those forecast to leave their band before the next visit.

#include <string>
#include <vector>

#include "record/history.h"

namespace loopmon {

// `links[i]` is the address of the page of sites[i]'s latest record relative
// to the index, empty where there is none. Numbers are written with `separator`.
std::string SitesHtml(const std::vector<SiteSummary>& sites, const std::vector<std::string>& links,
                      char separator);

// A loop forecast to leave its band, as the index and loopctl sites name it:
// "5/2 2027-03-01".
std::string DueLoopText(const LoopSeries& loop);

}  // namespace loopmon
