#pragma once
// A site's history window as designed: what the folder held, its loops with
// those to look at first, the chosen loop's plot, which takes whatever room
// the user gives the window, and the files not taken below it.

#include "desktop/form.h"
#include "desktop/history_form.h"
#include "desktop/texts.h"

namespace loopmon::site_history_form {

enum Control : int {
  StatusLabel = 101,
  LoopsLabel,
  LoopsList,
  ResistancePlot,
  SkippedLabel,
  SkippedList,
};

inline constexpr ControlForm Controls[] = {
    {.id = StatusLabel,
     .name = "statusLabel",
     .kind = ControlKind::Label,
     .rect = {8, 8, 644, 18},
     .horizontal = Follow::Stretch},
    {.id = LoopsLabel,
     .name = "loopsLabel",
     .kind = ControlKind::Label,
     .rect = {8, 30, 644, 16},
     .text = texts::LoopsLabel,
     .horizontal = Follow::Stretch},
    {.id = LoopsList,
     .name = "loopsList",
     .kind = ControlKind::ListBox,
     .rect = {8, 48, 644, 124},
     .tabOrder = 1,
     .horizontal = Follow::Stretch},
    {.id = ResistancePlot,
     .name = "siteHistoryPlot",
     .kind = ControlKind::Plot,
     .rect = {8, 180, 644, 234},
     .font = &history_form::PlotFont,
     .horizontal = Follow::Stretch,
     .vertical = Follow::Stretch},
    {.id = SkippedLabel,
     .name = "skippedLabel",
     .kind = ControlKind::Label,
     .rect = {8, 420, 644, 16},
     .text = texts::SkippedLabel,
     .horizontal = Follow::Stretch,
     .vertical = Follow::Move},
    {.id = SkippedList,
     .name = "skippedList",
     .kind = ControlKind::ListBox,
     .rect = {8, 438, 644, 54},
     .tabOrder = 2,
     .horizontal = Follow::Stretch,
     .vertical = Follow::Move},
};

// The title is the model's: it names the site.
inline constexpr WindowForm Form{.name = "siteHistoryWindow",
                                 .client = {660, 500},
                                 .font = {"MS Sans Serif", 13, false},
                                 .resizable = true,
                                 .controls = Controls};

}  // namespace loopmon::site_history_form
