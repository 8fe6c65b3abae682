#pragma once
// A loop's history window as designed: its figures and the save button above
// the plot, which takes whatever room the user gives the window.

#include "desktop/form.h"
#include "desktop/texts.h"

namespace loopmon::history_form {

enum Control : int {
  MinimumLabel = 101,
  MaximumLabel,
  MovesLabel,
  SaveButton,
  ResistancePlot,
};

inline constexpr FontSpec PlotFont{"MS Sans Serif", 11, false};

inline constexpr ControlForm Controls[] = {
    {.id = MinimumLabel,
     .name = "minimumLabel",
     .kind = ControlKind::Label,
     .rect = {8, 12, 190, 18}},
    {.id = MaximumLabel,
     .name = "maximumLabel",
     .kind = ControlKind::Label,
     .rect = {206, 12, 190, 18}},
    {.id = MovesLabel,
     .name = "movesLabel",
     .kind = ControlKind::Label,
     .rect = {404, 12, 110, 18}},
    {.id = SaveButton,
     .name = "saveButton",
     .kind = ControlKind::PushButton,
     .rect = {522, 8, 130, 25},
     .text = texts::SaveCsv,
     .tabOrder = 1,
     .horizontal = Follow::Move},
    {.id = ResistancePlot,
     .name = "historyPlot",
     .kind = ControlKind::Plot,
     .rect = {8, 38, 644, 334},
     .font = &PlotFont,
     .horizontal = Follow::Stretch,
     .vertical = Follow::Stretch},
};

// The title is the model's: it names the loop.
inline constexpr WindowForm Form{.name = "historyWindow",
                                 .client = {660, 380},
                                 .font = {"MS Sans Serif", 13, false},
                                 .resizable = true,
                                 .controls = Controls};

}  // namespace loopmon::history_form
