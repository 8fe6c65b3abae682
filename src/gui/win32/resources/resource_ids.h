#pragma once
// Resource numbers shared by loopmon.rc and the windows that load them; plain
// defines, since the resource compiler reads this file too.

#define LOOPMON_ICON_APP 1
#define LOOPMON_ICON_SEARCH 101
#define LOOPMON_ICON_READ 102
#define LOOPMON_ICON_TOOLS 103
#define LOOPMON_ICON_PERIODIC 104
