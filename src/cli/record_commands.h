#pragma once
// loopctl survey, compare, report, history, verify and sites: the site record from the command
// line, over the core's survey, record file, comparison and page.

#include <string>

#include "cli/scan_command.h"

namespace loopmon::cli {

// Returns ExitNothingFound when no device answers; nothing is written then.
int survey(const Arguments& args, const BusOpener& open);

// Returns ExitSuccess when nothing changed, ExitChanged when something did.
int compare(const Arguments& args);

int report(const Arguments& args);

// Each loop of the sites the records hold across their visits: its series,
// drift and when it leaves its band; those due before the next visit first.
int history(const Arguments& args);

// Returns ExitSuccess when the page and the record belong together and
// neither changed since the page was written, ExitChanged otherwise.
int verify(const Arguments& args);

// Every site of a folder tree of records at a glance; with --html an index
// page linking the page of each site's latest record.
int sites(const Arguments& args);

}  // namespace loopmon::cli
