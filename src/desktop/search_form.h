#pragma once
// The search dialog as designed. A port whose name is longer than its
// selector widens the selector, the dialog, the list and the progress bar by
// the same amount; the buttons stay centred.

#include "desktop/form.h"
#include "desktop/texts.h"
#include "search/search_procedure.h"

namespace loopmon::search_form {

enum Control : int {
  ChooseButton = 101,
  SearchButton,
  CancelButton,
  PortLabel,
  PortSelector,
  DeviceList,
  ProgressBar,
  QuickOption,
};

inline constexpr ControlForm Controls[] = {
    {.id = ChooseButton,
     .name = "chooseButton",
     .kind = ControlKind::PushButton,
     .rect = {23, 243, 90, 30},
     .text = texts::Choose,
     .tabOrder = 1,
     .enabled = false,
     .horizontal = Follow::Centre},
    {.id = SearchButton,
     .name = "searchButton",
     .kind = ControlKind::PushButton,
     .rect = {113, 243, 90, 30},
     .text = SearchButtonSearch,
     .tabOrder = 2,
     .horizontal = Follow::Centre},
    {.id = CancelButton,
     .name = "cancelButton",
     .kind = ControlKind::PushButton,
     .rect = {203, 243, 90, 30},
     .text = texts::Cancel,
     .tabOrder = 3,
     .horizontal = Follow::Centre},
    {.id = PortLabel,
     .name = "portLabel",
     .kind = ControlKind::Label,
     .rect = {8, 8, 150, 16},
     .text = texts::SerialPort,
     .sizedToText = true},
    {.id = PortSelector,
     .name = "portSelector",
     .kind = ControlKind::DropDownList,
     .rect = {200, 6, 105, 21},
     .tabOrder = 4,
     .horizontal = Follow::Stretch},
    // The list gives up the height of the quick search's option below it.
    {.id = DeviceList,
     .name = "deviceList",
     .kind = ControlKind::ModelList,
     .rect = {8, 40, 297, 149},
     .tabOrder = 5,
     .horizontal = Follow::Stretch},
    {.id = ProgressBar,
     .name = "progressBar",
     .kind = ControlKind::ProgressBar,
     .rect = {9, 216, 297, 17},
     .horizontal = Follow::Stretch,
     .maximum = 127},
    {.id = QuickOption,
     .name = "quickOption",
     .kind = ControlKind::CheckBox,
     .rect = {8, 193, 297, 18},
     .text = texts::QuickSearch,
     .tabOrder = 6,
     .horizontal = Follow::Stretch},
};

// Laid out for an outer size of 324 x 306 with a single fixed border; the
// client area is what is left inside that frame.
inline constexpr WindowForm Form{.name = "searchDialog",
                                 .title = texts::SearchTitle,
                                 .client = {318, 279},
                                 .font = {"Arial", 12, true},
                                 .topmost = true,
                                 .controls = Controls};

}  // namespace loopmon::search_form
