#pragma once
// loopctl survey, compare, report, history, verify and sites: the site record from the command
// line, over the core's survey, record file, comparison and page.

#include <string>
#include <vector>

#include "cli/scan_command.h"

namespace loopmon::cli {

// Returns ExitNothingFound when no device answers; nothing is written then.
int survey(const std::vector<std::string>& words, const BusOpener& open);

// Returns ExitSuccess when nothing changed, ExitChanged when something did.
int compare(const std::vector<std::string>& words);

int report(const std::vector<std::string>& words);

// Each loop of the sites the records hold across their visits: its series,
// drift and when it leaves its band; those due before the next visit first.
int history(const std::vector<std::string>& words);

// Returns ExitSuccess when the page and the record belong together and
// neither changed since the page was written, ExitChanged otherwise.
int verify(const std::vector<std::string>& words);

// Every site of a folder tree of records at a glance; with --html an index
// page linking the page of each site's latest record.
int sites(const std::vector<std::string>& words);

}  // namespace loopmon::cli
